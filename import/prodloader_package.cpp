#include "import/prodloader_package.h"

#include <unistd.h>

#include <filesystem>

#include "import/transformation_scripts.h"

namespace prodloader {

namespace {

namespace fs = std::filesystem;
using platform::dts::Connection;
using platform::dts::Lookup;
using platform::dts::Package;
using platform::dts::Precedence;
using platform::dts::PrecedenceBasis;
using platform::dts::Step;
using platform::dts::Task;
using platform::dts::TaskKind;

constexpr char kSep = static_cast<char>(fs::path::preferred_separator);

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  return fs::absolute(path).lexically_normal().string();
}

std::string Workstation() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

Connection SqlConnection(const Settings& s, int32_t id, const std::string& name,
                         const std::string& provider, const std::string& catalog) {
  Connection c;
  c.id = id;
  c.name = name;
  c.provider = provider;
  c.data_source = s.DbServer;
  c.catalog = catalog;
  c.user_id = s.DbUser;
  c.password = s.DbPwd;
  c.trusted = false;
  c.reusable = true;
  c.connect_immediate = false;
  c.connection_timeout = (id == 26 || id == 12 || id == 13 || id == 14 || id == 18) ? 0 : 60;
  c.Set("Persist Security Info", "True");
  c.Set("User ID", s.DbUser);
  c.Set("Initial Catalog", catalog);
  c.Set("Data Source", s.DbServer);
  if (provider == "SQLOLEDB.1") {
    c.Set("Locale Identifier", "1033");
    c.Set("Prompt", "4");
    c.Set("Connect Timeout", "0");
    c.Set("Use Procedure for Prepare", "1");
    c.Set("Auto Translate", "True");
    c.Set("Packet Size", "4096");
  }
  c.Set("Application Name", "DTS Designer");
  if (provider == "SQLOLEDB.1") c.Set("Workstation ID", Workstation());
  return c;
}

Connection FlatFile(const Settings& s, int32_t id, const std::string& name,
                    const std::string& file, bool qualified) {
  Connection c;
  c.id = id;
  c.name = name;
  c.provider = platform::dts::kFlatFileProvider;
  c.data_source = s.SchemeFolder + kSep + file;
  c.Set("Data Source", c.data_source);
  c.Set("Mode", "1");
  c.Set("Row Delimiter", "\r\n");
  c.Set("File Format", "1");
  c.Set("Column Delimiter", "\t");
  c.Set("File Type", "1");
  c.Set("Skip Rows", "0");
  if (qualified) c.Set("Text Qualifier", "\"");
  c.Set("First Row Column Name", "False");
  c.Set("Number of Column", "0");
  c.Set("Max characters per delimited column", "255");
  return c;
}

Step MakeStep(const std::string& name, const std::string& description, const std::string& task) {
  Step s;
  s.name = name;
  s.description = description;
  s.task_name = task;
  s.script_language = "VBScript";
  s.add_global_variables = true;
  s.relative_priority = 3;
  s.join_transaction = false;
  s.fail_package_on_error = false;
  return s;
}

Task ScriptTask(const std::string& name, const std::string& description, std::string script) {
  Task t;
  t.name = name;
  t.description = description;
  t.kind = TaskKind::kActiveScript;
  t.script = std::move(script);
  t.function_name = "Main";
  return t;
}

Task SqlTask(const std::string& name, const std::string& description, const std::string& sql) {
  Task t;
  t.name = name;
  t.description = description;
  t.kind = TaskKind::kExecuteSql;
  t.connection_id = 30;
  t.sql = sql;
  t.command_timeout = 0;
  return t;
}

Task DataTask(const Settings& s, const std::string& name, const std::string& description,
              int32_t source, int32_t destination, const std::string& table,
              const std::string& exception_file) {
  Task t;
  t.name = name;
  t.description = description;
  t.kind = TaskKind::kDataDrivenQuery;
  t.source_connection_id = source;
  t.destination_connection_id = destination;
  t.destination_object = "[" + s.BrevaneDb + "].[dbo].[" + table + "]";
  t.progress_row_count = 1000;
  t.maximum_error_count = 9999;
  t.fetch_buffer_size = 1;
  t.exception_file = s.PackageLogFolder() + kSep + exception_file;
  t.exception_column_delimiter = "|";
  t.exception_row_delimiter = "\r\n";
  t.function_name = "Main";
  return t;
}

}  // namespace

Package BuildPackage(const Settings& given) {
  Settings s = given;
  s.DbServer = Absolute(s.DbServer);
  s.SchemeFolder = Absolute(s.SchemeFolder);
  s.LogFolder = Absolute(s.LogFolder);
  const std::string log_folder = s.PackageLogFolder();

  Package p;
  p.name = s.PackageName();
  p.description = "Product master-data import";
  p.log_file_name = log_folder + kSep + "Masterlog.txt";
  p.priority_class = 2;
  p.max_concurrent_steps = 4;
  p.use_transaction = true;
  p.transaction_isolation_level = 4096;
  p.auto_commit_transaction = true;
  p.fail_on_error = false;
  p.write_completion_status_to_nt_event_log = false;
  p.log_to_sql_server = false;
  p.global_variables = {{"LogObj", "<not displayable>"}, {"Version", "2.7.0"}};

  p.connections = {
      SqlConnection(s, 26, "Kelmor Lookup", "SQLOLEDB.1", s.KelmorDb),
      SqlConnection(s, 12, "Brevane Lookup", "SQLOLEDB.1", s.BrevaneDb),
      SqlConnection(s, 13, "Brevane (Units)", "SQLOLEDB.1", s.BrevaneDb),
      SqlConnection(s, 14, "Brevane (Manufacturers)", "SQLOLEDB.1", s.BrevaneDb),
      SqlConnection(s, 18, "Brevane (Products)", "SQLOLEDB.1", s.BrevaneDb),
      FlatFile(s, 16, "tiitm001 (Products) (2)", "tiitm001", false),
      FlatFile(s, 10, "tiitm001 (Products)", "tiitm001", false),
      FlatFile(s, 9, "tcmcs001 (Units)", "tcmcs001", false),
      SqlConnection(s, 28, "Brevane (Productcategory)", "SQLOLEDB", s.BrevaneDb),
      FlatFile(s, 29, "tdlra010 (Product ID)", "tdlra010", true),
      SqlConnection(s, 30, "Brevane(ProductIDNO)", "SQLOLEDB", s.BrevaneDb),
      SqlConnection(s, 31, "Brevane (PRODUCTSBYCATEGORY)", "SQLOLEDB", s.BrevaneDb),
      FlatFile(s, 27, "tcmcs044 (Statistics Group)", "tcmcs044", true),
  };

  p.steps = {
      MakeStep("CreateLogFile", "CreateLogFile", "DTSTask_DTSActiveScriptTask_2"),
      MakeStep("CloseLogFile", "CloseLogFile", "DTSTask_DTSActiveScriptTask_3"),
      MakeStep("Import_Manufacturers", "Import Manufacturers", "DTSTask_DTSDataDrivenQueryTask_1"),
      MakeStep("Import_Products", "Import Products", "DTSTask_DTSDataDrivenQueryTask_2"),
      MakeStep("Import_Units", "Import Units", "DTSTask_DTSDataDrivenQueryTask_3"),
      MakeStep("DTSStep_DTSDataDrivenQueryTask_1", "Import Product Categories",
               "DTSTask_DTSDataDrivenQueryTask_4"),
      MakeStep("DTSStep_DTSDataDrivenQueryTask_2", "Import Product IDNO",
               "DTSTask_DTSDataDrivenQueryTask_5"),
      MakeStep("DTSStep_DTSDataDrivenQueryTask_3", "Update ProductsbyCategory",
               "DTSTask_DTSDataDrivenQueryTask_6"),
      MakeStep("DTSStep_DTSExecuteSQLTask_1", "PRODUCTIDNO_PREPARE_FOR_UPDATE",
               "DTSTask_DTSExecuteSQLTask_1"),
      MakeStep("DTSStep_DTSExecuteSQLTask_2", "PRODUCTIDNO_DELETE_USED_IDNO",
               "DTSTask_DTSExecuteSQLTask_2"),
  };
  const auto after = [&p](const std::string& step, const std::string& before,
                          PrecedenceBasis basis) {
    for (Step& st : p.steps)
      if (st.name == step) st.precedence.push_back(Precedence{before, basis});
  };
  using B = PrecedenceBasis;
  after("Import_Units", "CreateLogFile", B::kCompletion);
  after("Import_Manufacturers", "Import_Units", B::kCompletion);
  after("Import_Products", "Import_Manufacturers", B::kCompletion);
  after("DTSStep_DTSExecuteSQLTask_1", "Import_Products", B::kSuccess);
  after("DTSStep_DTSDataDrivenQueryTask_2", "DTSStep_DTSExecuteSQLTask_1", B::kCompletion);
  after("DTSStep_DTSExecuteSQLTask_2", "DTSStep_DTSDataDrivenQueryTask_2", B::kSuccess);
  after("DTSStep_DTSDataDrivenQueryTask_1", "DTSStep_DTSExecuteSQLTask_2", B::kCompletion);
  after("DTSStep_DTSDataDrivenQueryTask_3", "DTSStep_DTSDataDrivenQueryTask_1", B::kCompletion);
  after("CloseLogFile", "DTSStep_DTSDataDrivenQueryTask_3", B::kCompletion);

  // The tasks, in the order they are added.
  p.tasks.push_back(ScriptTask("DTSTask_DTSActiveScriptTask_2", "CreateLogFile",
                               CreateLogFileScript(log_folder)));
  p.tasks.push_back(ScriptTask("DTSTask_DTSActiveScriptTask_3", "CloseLogFile",
                               CloseLogFileScript()));

  Task manufacturers = DataTask(s, "DTSTask_DTSDataDrivenQueryTask_1", "Import Manufacturers", 10,
                                14, "MANUFACTURER", "ImportManufacturers.txt");
  manufacturers.insert_sql =
      "INSERT INTO MANUFACTURER (MANUFACTURERID, MANUFACTURERNAME) VALUES (?,?)";
  manufacturers.insert_columns = {"MANUFACTURERID", "MANUFACTURERNAME"};
  manufacturers.update_sql =
      "UPDATE MANUFACTURER SET MANUFACTURERNAME = ? WHERE (MANUFACTURERID = ?)";
  manufacturers.update_columns = {"MANUFACTURERNAME", "MANUFACTURERID"};
  manufacturers.lookups = {
      Lookup{"FindKey", 12, "SELECT MANUFACTURERID FROM MANUFACTURER WHERE MANUFACTURERID=?"},
      Lookup{"FindSupplierBP", 26,
             "SELECT NAME FROM BUSINESSPARTNER WHERE (KROSUPPLIERCODE = ?)"}};
  manufacturers.script = ImportManufacturersScript();
  p.tasks.push_back(std::move(manufacturers));

  Task products = DataTask(s, "DTSTask_DTSDataDrivenQueryTask_2", "Import Products", 16, 18,
                           "PRODUCT", "ImportProducts.txt");
  products.insert_sql =
      "INSERT INTO dbo.PRODUCT (PARTNUMBER, MANUFACTURERID, PRODUCTDESCRIPTION, UNITCODE, "
      "CONFIGURABLE, COMMODITYCODE, BUSINESSPARTNERID, DISABLED, COMPANYNR, TAXCODE, "
      "DELIVERYLEADTIME, SERVICEITEM, PRODUCTCATEGORY) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
      "?, ?)";
  products.insert_columns = {"PARTNUMBER",    "MANUFACTURERID",    "PRODUCTDESCRIPTION",
                             "UNITCODE",      "CONFIGURABLE",      "COMMODITYCODE",
                             "BUSINESSPARTNERID", "DISABLED",      "COMPANYNR",
                             "TAXCODE",       "DELIVERYLEADTIME",  "SERVICEITEM",
                             "PRODUCTCATEGORY"};
  products.update_sql =
      "UPDATE dbo.PRODUCT SET PARTNUMBER = ?, MANUFACTURERID = ?, PRODUCTDESCRIPTION = ?, "
      "UNITCODE = ?, CONFIGURABLE = ?, COMMODITYCODE = ?, BUSINESSPARTNERID = ?, DISABLED = ?, "
      "COMPANYNR = ?, TAXCODE = ?, DELIVERYLEADTIME = ?, SERVICEITEM = ?, PRODUCTCATEGORY = ? "
      "WHERE (PRODUCTID = ?)";
  products.update_columns = products.insert_columns;
  products.update_columns.push_back("PRODUCTID");
  products.lookups = {
      Lookup{"FindKey", 12,
             "SELECT PRODUCTID FROM dbo.PRODUCT WHERE PARTNUMBER = ? AND (COMPANYNR = ? OR "
             "COMPANYNR IS NULL OR COMPANYNR='')"},
      Lookup{"FindSupplier", 26,
             "SELECT BUSINESSPARTNERID FROM BUSINESSPARTNER WHERE KROSUPPLIERCODE = ?"},
      Lookup{"FindCommodity", 12,
             "SELECT COMMODITYCODE FROM dbo.COMMODITY WHERE COMMODITYCODE = ?"},
      Lookup{"FindUnit", 12, "SELECT UNITCODE FROM dbo.UNIT WHERE UNITCODE = ?"},
      Lookup{"FindTaxcode", 12, "SELECT TAXCODE FROM dbo.TAXCODES WHERE (TAXCODE = ?)"}};
  products.script = ImportProductsScript();
  p.tasks.push_back(std::move(products));

  Task units = DataTask(s, "DTSTask_DTSDataDrivenQueryTask_3", "Import Units", 9, 13, "UNIT",
                        "ImportUnits.txt");
  units.insert_sql = "INSERT INTO dbo.UNIT (UNITCODE, UNITDESCRIPTION) VALUES (?,?)";
  units.insert_columns = {"UNITCODE", "UNITDESCRIPTION"};
  units.update_sql = "UPDATE dbo.UNIT SET UNITDESCRIPTION = ? WHERE UNITCODE = ?";
  units.update_columns = {"UNITDESCRIPTION", "UNITCODE"};
  units.lookups = {Lookup{"FindKey", 12, "SELECT UNITCODE FROM dbo.UNIT WHERE UNITCODE = ?"}};
  units.script = ImportUnitsScript();
  p.tasks.push_back(std::move(units));

  Task categories = DataTask(s, "DTSTask_DTSDataDrivenQueryTask_4", "Import Product Categories",
                             27, 12, "PRODUCTCATEGORY", "ImportProductCategory.txt");
  categories.insert_sql =
      "INSERT INTO PRODUCTCATEGORY (CATEGORYNAME, CATEGORYCLASSIFICATION) VALUES (?, ?)";
  categories.insert_columns = {"CATEGORYNAME", "CATEGORYCLASSIFICATION"};
  categories.update_sql =
      "UPDATE PRODUCTCATEGORY SET CATEGORYNAME = ?, CATEGORYCLASSIFICATION = ? WHERE "
      "CATEGORYID = ?";
  categories.update_columns = {"CATEGORYNAME", "CATEGORYCLASSIFICATION", "CATEGORYID"};
  categories.lookups = {Lookup{"FindPC", 12,
                               "SELECT CATEGORYID, CATEGORYNAME, CATEGORYCLASSIFICATION FROM "
                               "dbo.PRODUCTCATEGORY WHERE (CATEGORYNAME = ?)"}};
  categories.script = ImportProductCategoriesScript();
  p.tasks.push_back(std::move(categories));

  Task idno = DataTask(s, "DTSTask_DTSDataDrivenQueryTask_5", "Import Product IDNO", 29, 12,
                       "PRODUCTIDNO", "ImportProductIDNO.txt");
  idno.insert_sql =
      "INSERT INTO dbo.PRODUCTIDNO (IDNO, LENGTH, WAREHOUSE, PACKAGEID, PARTNUMBER, AVAILABLE, "
      "CHANGED) VALUES (?, ?, ?, ?, ?, 1,1)";
  idno.insert_columns = {"IDNO", "LENGTH", "WAREHOUSE", "PACKAGEID", "PARTNUMBER"};
  idno.update_sql =
      "UPDATE dbo.PRODUCTIDNO SET LENGTH = ?, WAREHOUSE = ?, PACKAGEID = ?, AVAILABLE = 1, "
      "CHANGED=1 WHERE (IDNO = ?)";
  idno.update_columns = {"LENGTH", "WAREHOUSE", "PACKAGEID", "IDNO"};
  idno.lookups = {Lookup{"IDNOExists", 12,
                         "SELECT IDNO, LENGTH FROM dbo.PRODUCTIDNO WHERE (IDNO = ?)"}};
  idno.script = ImportProductIdnoScript();
  p.tasks.push_back(std::move(idno));

  Task byCategory = DataTask(s, "DTSTask_DTSDataDrivenQueryTask_6", "Update ProductsbyCategory",
                             18, 31, "PRODUCTSBYCATEGORY", "UpdateProductsbycategory.txt");
  byCategory.source_object = "[" + s.BrevaneDb + "].[dbo].[PRODUCT]";
  byCategory.source_columns = {"PARTNUMBER", "PRODUCTCATEGORY", "PRODUCTID"};
  byCategory.source_key = "PRODUCTID";
  byCategory.fetch_buffer_size = 20;
  byCategory.insert_sql =
      "INSERT INTO PRODUCTSBYCATEGORY (PRODUCTID, CATEGORYID, SEQUENCE) VALUES (?, ?, ?)";
  byCategory.insert_columns = {"PRODUCTID", "CATEGORYID", "SEQUENCE"};
  byCategory.update_sql =
      "UPDATE PRODUCTSBYCATEGORY SET CATEGORYID = ?, SEQUENCE = ? WHERE (PRODUCTID = ?)";
  byCategory.update_columns = {"CATEGORYID", "SEQUENCE", "PRODUCTID"};
  byCategory.lookups = {
      Lookup{"ProductCategoryAvailable", 12,
             "SELECT CATEGORYID FROM dbo.PRODUCTSBYCATEGORY WHERE (PRODUCTID = ?)"},
      Lookup{"GetCategoryID", 12,
             "SELECT CATEGORYID FROM dbo.PRODUCTCATEGORY WHERE (CATEGORYNAME = ?)"},
      Lookup{"GetSequenceNumber", 12,
             "SELECT MAX(SEQUENCE) AS Expr1 FROM dbo.PRODUCTSBYCATEGORY WHERE (CATEGORYID = ?)"}};
  byCategory.script = UpdateProductsByCategoryScript();
  p.tasks.push_back(std::move(byCategory));

  p.tasks.push_back(SqlTask("DTSTask_DTSExecuteSQLTask_1", "PRODUCTIDNO_PREPARE_FOR_UPDATE",
                            "UPDATE PRODUCTIDNO SET CHANGED = 0"));
  p.tasks.push_back(SqlTask("DTSTask_DTSExecuteSQLTask_2", "PRODUCTIDNO_DELETE_USED_IDNO",
                            "DELETE FROM PRODUCTIDNO WHERE CHANGED=0"));
  return p;
}

platform::dts::PackageVersion StorePackage(const Settings& settings) {
  const Package package = BuildPackage(settings);
  platform::dts::PackageStore store(settings.DbServer);
  return store.Save(package, settings.DbUser, settings.DbPwd);
}

}  // namespace prodloader
