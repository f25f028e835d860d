// A control file wrapped into a whole cabinet with libgcab, as the
// handheld's cabinets hold it: the control file first as member .000, then
// the files to install, .003 down to .001, each a few bytes of its own.
// For the package installer's fuzz target and its seeds.
#pragma once

#include <libgcab.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

inline std::vector<uint8_t> WrapInCabinet(const std::vector<uint8_t>& control) {
  struct Member {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const Member members[] = {{"0000FUZZ.000", control},
                            {"0000FUZZ.003", {'t', 'h', 'r', 'e', 'e'}},
                            {"0000FUZZ.002", {'t', 'w', 'o'}},
                            {"0000FUZZ.001", {'o', 'n', 'e'}}};
  GCabCabinet* cabinet = gcab_cabinet_new();
  GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_NONE);
  bool ok = true;
  for (const Member& member : members) {
    GBytes* bytes = g_bytes_new(member.bytes.data(), member.bytes.size());
    GCabFile* file = gcab_file_new_with_bytes(member.name, bytes);
    ok = ok && gcab_folder_add_file(folder, file, FALSE, nullptr, nullptr);
    g_object_unref(file);
    g_bytes_unref(bytes);
  }
  ok = ok && gcab_cabinet_add_folder(cabinet, folder, nullptr);
  GOutputStream* stream = g_memory_output_stream_new_resizable();
  ok = ok && gcab_cabinet_write_simple(cabinet, stream, nullptr, nullptr, nullptr, nullptr) &&
       g_output_stream_close(stream, nullptr, nullptr);
  std::vector<uint8_t> out;
  if (ok) {
    const auto* data = static_cast<const uint8_t*>(
        g_memory_output_stream_get_data(G_MEMORY_OUTPUT_STREAM(stream)));
    out.assign(data, data + g_memory_output_stream_get_data_size(G_MEMORY_OUTPUT_STREAM(stream)));
  }
  g_object_unref(stream);
  g_object_unref(folder);
  g_object_unref(cabinet);
  return out;
}

}  // namespace fuzzing
