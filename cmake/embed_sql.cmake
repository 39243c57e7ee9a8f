# Writes OUT: a C++ source that holds every *.sql file under ROOT as text,
# looked up by its path relative to ROOT ("Vendra/schema.sql"), and the list
# of those paths in sorted order.
file(GLOB_RECURSE scripts RELATIVE ${ROOT} ${ROOT}/*.sql)
list(SORT scripts)
set(body "// Generated from db/*.sql; do not edit.\n#include \"apps/instance/embedded_sql.h\"\n\nnamespace vendra_instance {\nnamespace {\nstruct Script { const char* name; const char* text; };\nconst Script kScripts[] = {\n")
foreach(s ${scripts})
  file(READ ${ROOT}/${s} text)
  if(text MATCHES "\\)vendra_sql\"")
    message(FATAL_ERROR "${s} holds the raw-string delimiter )vendra_sql\"")
  endif()
  string(APPEND body "  {\"${s}\", R\"vendra_sql(${text})vendra_sql\"},\n")
endforeach()
string(APPEND body "};\n}  // namespace\n\nstd::string_view EmbeddedSql(std::string_view name) {\n  for (const auto& s : kScripts)\n    if (name == s.name) return s.text;\n  return {};\n}\n\nstd::vector<std::string_view> EmbeddedSqlNames() {\n  std::vector<std::string_view> names;\n  for (const auto& s : kScripts) names.emplace_back(s.name);\n  return names;\n}\n\n}  // namespace vendra_instance\n")
file(WRITE ${OUT}.tmp "${body}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
