#include "import/transformation_scripts.h"

namespace prodloader {

namespace {

// The routines the item, manufacturer and unit transformations share:
// the text functions they need and the exception log. DTS_STEP is the
// task's description, set before this text.
constexpr char kShared[] = R"lua(
-- Blanks (spaces) off the ends; nil stays nil.
local function Trim(s)
  if s == nil then return nil end
  return (s:gsub("^ +", ""):gsub(" +$", ""))
end

local function LTrim(s)
  if s == nil then return nil end
  return (s:gsub("^ +", ""))
end

local function Right(s, n)
  if s == nil then return nil end
  if #s <= n then return s end
  return s:sub(-n)
end

-- A value as a 32-bit integer, halves rounded to even.
local function CLng(v)
  local n = tonumber(v)
  if n == nil then error("Type mismatch: '" .. tostring(v) .. "' is not a number") end
  local f = math.floor(n)
  local d = n - f
  if d > 0.5 or (d == 0.5 and f % 2 == 1) then f = f + 1 end
  if f < -2147483648 or f > 2147483647 then error("Overflow: " .. tostring(v)) end
  return math.tointeger(f)
end

-- Appends an exception to the exception log; logging never fails a row.
local function LogException(iTaskName, iErrorDesc, iErrorLevel, iNotes)
  pcall(function()
    local log = DTSGlobalVariables("LogObj").Value
    log:WriteLine("DTS task name: " .. iTaskName)
    log:WriteLine("Exception occurred: " .. iErrorDesc)
    local columns = {}
    for _, name in ipairs(DTSSourceColumns) do
      local value = DTSSource(name)
      if value == nil then value = "null" end
      columns[#columns + 1] = name .. '="' .. tostring(value) .. '"'
    end
    log:WriteLine("Source row: " .. table.concat(columns, ", "))
    if iErrorLevel == 0 then
      log:WriteLine("Severity: 0 (add the row)")
    else
      log:WriteLine("Severity: 1 (skip the row - do not add)")
    end
    if iNotes ~= nil and iNotes ~= "" then log:WriteLine("Notes: " .. iNotes) end
    log:WriteLine("")
  end)
  if iErrorLevel == 0 then return DTSTransformStat_OK end
  return DTSTransformStat_SkipRow
end

-- Pairs of value and label: logs "<label> is empty" (level 1) at the first
-- Null value and answers false.
local function CheckRequiredFields(...)
  local n = select("#", ...)
  local args = {...}
  for i = 1, n, 2 do
    if args[i] == nil then
      LogException(DTS_STEP, tostring(args[i + 1]) .. " is empty", 1, "")
      return false
    end
  end
  return true
end
)lua";

std::string WithShared(const std::string& step, const char* body) {
  return "local DTS_STEP = " + LuaLongString(step) + "\n" + kShared + body;
}

constexpr char kCreateLogFile[] = R"lua(
function Main()
  local fso = CreateObject("Scripting.FileSystemObject")
  if fso:FolderExists(PATH) then
    -- Last run's logs go; a folder without any is fine.
    pcall(fso.DeleteFile, fso, fso:BuildPath(PATH, "*.txt"), true)
  else
    -- Level by level from the first path element.
    local sep = DTS_PATH_SEPARATOR
    local current = PATH:sub(1, 1) == sep and sep or ""
    for part in PATH:gmatch("[^" .. sep .. "]+") do
      if current == "" or current == sep then
        current = current .. part
      else
        current = current .. sep .. part
      end
      if not fso:FolderExists(current) then fso:CreateFolder(current) end
    end
  end
  local log = fso:CreateTextFile(fso:BuildPath(PATH, "ExceptionLog.txt"), true)
  DTSGlobalVariables("LogObj").Value = log
  log:WriteLine("Package Version: " .. tostring(DTSGlobalVariables("Version").Value))
  log:WriteLine("")
  return DTSTaskExecResult_Success
end
)lua";

constexpr char kCloseLogFile[] = R"lua(
function Main()
  pcall(function() DTSGlobalVariables("LogObj").Value:Close() end)
  return DTSTaskExecResult_Success
end
)lua";

constexpr char kManufacturers[] = R"lua(
function Main()
  local code = LTrim(DTSSource("Col003"))
  if code == nil or Trim(code) == "" then return DTSTransformStat_SkipRow end

  local exists = DTSLookups("FindKey").Execute(code) ~= nil

  local name = DTSLookups("FindSupplierBP").Execute(code)
  if name == nil then
    name = code
    LogException(DTS_STEP, "Corresponding supplier not found", 0, "Manufacturer name set equal to ID")
  end

  DTSDestination["MANUFACTURERID"] = code
  DTSDestination["MANUFACTURERNAME"] = name
  if exists then return DTSTransformstat_UpdateQuery end
  return DTSTransformstat_InsertQuery
end
)lua";

constexpr char kProducts[] = R"lua(
function Main()
  local part = Trim(DTSSource("Col001"))
  local company = DTSSource("Col010")
  local description = DTSSource("Col002")
  if description == nil then
    description = part
    LogException(DTS_STEP, "Description is empty", 0, "Partnr used for description")
  end

  local manufacturer = LTrim(DTSSource("Col003"))
  local itemType = DTSSource("Col005")

  local taxCode = DTSSource("Col009")
  if taxCode ~= nil then
    taxCode = Right(Trim(taxCode), 2)
    if DTSLookups("FindTaxcode").Execute(taxCode) == nil then
      LogException(DTS_STEP, "Warning: Tax code (" .. taxCode .. ") not found - tax code set to NULL", 0, "")
      taxCode = nil
    end
  end

  local productId = DTSLookups("FindKey").Execute(part, company)
  local exists = productId ~= nil

  DTSDestination["PARTNUMBER"] = part
  DTSDestination["COMPANYNR"] = company
  if exists then DTSDestination["PRODUCTID"] = productId end
  if manufacturer ~= nil and manufacturer ~= "" then DTSDestination["MANUFACTURERID"] = manufacturer end
  DTSDestination["PRODUCTDESCRIPTION"] = description

  if itemType == "3" then DTSDestination["CONFIGURABLE"] = 1 else DTSDestination["CONFIGURABLE"] = 0 end
  if itemType == "1" or itemType == "2" then
    DTSDestination["SERVICEITEM"] = 1
  else
    DTSDestination["SERVICEITEM"] = 0
  end

  local partner = nil
  if manufacturer ~= nil and manufacturer ~= "" then
    partner = DTSLookups("FindSupplier").Execute(manufacturer)
    if partner == nil then
      LogException(DTS_STEP, "BusinessPartner not found for supplier " .. manufacturer, 0, "BusinessPartnerID set to null")
    else
      partner = CLng(partner)
    end
  end
  DTSDestination["BUSINESSPARTNERID"] = partner

  local unit = DTSSource("Col006")
  if DTSLookups("FindUnit").Execute(unit) == nil then
    LogException(DTS_STEP, "ERROR - Unit code (" .. (unit or "") .. ") not found", 1, "")
    return DTSTransformStat_SkipRow
  end
  DTSDestination["UNITCODE"] = unit

  local commodity = DTSSource("Col007")
  if commodity ~= nil then
    commodity = Trim(commodity)
    if DTSLookups("FindCommodity").Execute(commodity) == nil then
      LogException(DTS_STEP, "Commodity code " .. commodity .. " does not exist", 0, "CommodityCode set to null")
      commodity = nil
    end
  end
  DTSDestination["COMMODITYCODE"] = commodity

  DTSDestination["TAXCODE"] = taxCode
  DTSDestination["DISABLED"] = 0
  DTSDestination["DELIVERYLEADTIME"] = DTSSource("Col011")
  DTSDestination["PRODUCTCATEGORY"] = DTSSource("Col012")

  if exists then return DTSTransformstat_UpdateQuery end
  return DTSTransformstat_InsertQuery
end
)lua";

constexpr char kUnits[] = R"lua(
function Main()
  local code = DTSSource("Col001")
  local description = DTSSource("Col002")
  if not CheckRequiredFields(code, "Code", description, "Description") then
    return DTSTransformStat_SkipRow
  end

  DTSDestination["UNITCODE"] = code
  DTSDestination["UNITDESCRIPTION"] = description
  if DTSLookups("FindKey").Execute(code) ~= nil then return DTSTransformstat_UpdateQuery end
  return DTSTransformstat_InsertQuery
end
)lua";

// The CLng both category scripts define the same way: halves rounded up,
// unlike the shared one of the item scripts (halves to even).
constexpr char kCategoryCLng[] = R"lua(
local function CLng(v)
  local n = tonumber(v)
  if n == nil then error("Type mismatch: '" .. tostring(v) .. "' is not a number") end
  return math.tointeger(math.floor(n + 0.5))
end
)lua";

std::string WithCategoryCLng(const char* body) { return std::string(kCategoryCLng) + body; }

constexpr char kCategories[] = R"lua(
function Main()
  local found = DTSLookups("FindPC").Execute(DTSSource("Col001"))
  DTSDestination["CATEGORYNAME"] = DTSSource("Col001")
  DTSDestination["CATEGORYCLASSIFICATION"] = DTSSource("Col002")
  if found == nil then return DTSTransformstat_InsertQuery end
  DTSDestination["CATEGORYID"] = CLng(found[1])
  return DTSTransformstat_UpdateQuery
end
)lua";

constexpr char kIdno[] = R"lua(
function Main()
  local found = DTSLookups("IDNOExists").Execute(DTSSource("Col001"))
  if found == nil then DTSDestination["PARTNUMBER"] = DTSSource("Col005") end
  DTSDestination["PACKAGEID"] = DTSSource("Col004")
  DTSDestination["WAREHOUSE"] = DTSSource("Col003")
  DTSDestination["LENGTH"] = DTSSource("Col002")
  DTSDestination["IDNO"] = DTSSource("Col001")
  if found == nil then return DTSTransformstat_InsertQuery end
  return DTSTransformstat_UpdateQuery
end
)lua";

constexpr char kProductsByCategory[] = R"lua(
local function NextSequence(category)
  local last = DTSLookups("GetSequenceNumber").Execute(category)
  if last == nil then return 1 end
  return last + 1
end

function Main()
  local category = DTSLookups("GetCategoryID").Execute(DTSSource("PRODUCTCATEGORY"))
  if category == nil or category == "" then return DTSTransformStat_ExceptionRow end

  local present = DTSLookups("ProductCategoryAvailable").Execute(DTSSource("PRODUCTID"))
  if present == nil then
    DTSDestination["SEQUENCE"] = NextSequence(category)
    DTSDestination["CATEGORYID"] = category
    DTSDestination["PRODUCTID"] = DTSSource("PRODUCTID")
    return DTSTransformstat_InsertQuery
  end
  if CLng(present) ~= CLng(category) then
    DTSDestination["CATEGORYID"] = category
    DTSDestination["SEQUENCE"] = NextSequence(category)
    DTSDestination["PRODUCTID"] = DTSSource("PRODUCTID")
    return DTSTransformstat_UpdateQuery
  end
  return DTSTransformStat_SkipRow
end
)lua";

}  // namespace

std::string LuaLongString(const std::string& text) {
  std::string equals = "=";
  while (text.find("]" + equals + "]") != std::string::npos) equals += "=";
  // A leading line break would be dropped by the long string.
  return "[" + equals + "[" + (text.starts_with("\n") ? "\n" : "") + text + "]" + equals + "]";
}

std::string CreateLogFileScript(const std::string& log_folder) {
  return "local PATH = " + LuaLongString(log_folder) + "\n" + kCreateLogFile;
}
std::string CloseLogFileScript() { return kCloseLogFile; }
std::string ImportManufacturersScript() { return WithShared("Import Manufacturers", kManufacturers); }
std::string ImportProductsScript() { return WithShared("Import Products", kProducts); }
std::string ImportUnitsScript() { return WithShared("Import Units", kUnits); }
std::string ImportProductCategoriesScript() { return WithCategoryCLng(kCategories); }
std::string ImportProductIdnoScript() { return kIdno; }
std::string UpdateProductsByCategoryScript() { return WithCategoryCLng(kProductsByCategory); }

}  // namespace prodloader
