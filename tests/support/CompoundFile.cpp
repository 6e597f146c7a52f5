#include "tests/support/CompoundFile.h"

#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-meta-names.h>
#include <gsf/gsf-msole-utils.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <gtest/gtest.h>

namespace ZYT::Test {

namespace {

void InsertString(GsfDocMetaData* meta, const char* name, const char* text) {
  GValue* value = g_new0(GValue, 1);
  g_value_init(value, G_TYPE_STRING);
  g_value_set_string(value, text);
  gsf_doc_meta_data_insert(meta, g_strdup(name), value);
}

}  // namespace

void WriteCompoundFile(const std::string& path, const char* keywords) {
  gsf_init();
  GError* error = nullptr;
  GsfOutput* output = gsf_output_stdio_new(path.c_str(), &error);
  ASSERT_NE(output, nullptr) << path;
  GsfOutfile* storage = gsf_outfile_msole_new(output);
  GsfOutput* stream = gsf_outfile_new_child(storage, "\005SummaryInformation", FALSE);
  GsfDocMetaData* meta = gsf_doc_meta_data_new();
  if (keywords) InsertString(meta, GSF_META_NAME_KEYWORDS, keywords);
  InsertString(meta, GSF_META_NAME_TITLE, "A title");
  EXPECT_TRUE(gsf_doc_meta_data_write_to_msole(meta, stream, FALSE));
  gsf_output_close(stream);
  g_object_unref(stream);
  gsf_output_close(GSF_OUTPUT(storage));
  g_object_unref(storage);
  g_object_unref(output);
  g_object_unref(meta);
}

}  // namespace ZYT::Test
