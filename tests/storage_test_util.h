// Helpers of the storage engine tests: object references released at scope
// end, whole streams in and out, and listings of a file's tree from the
// engine and from olefile in one format ("path kind size hash", sorted).
#pragma once

#include <cstdint>
#include <string>

#include "storage/stg_api.h"
#include "storage/stg_hold.h"

// Releases an engine object at scope end.
template <class T>
using StgRef = StgHold<T>;

std::u16string wide(const std::string& utf8);
std::string narrow(const char16_t* wide);

uint32_t open_root(const std::string& path, uint32_t mode, StgRef<StgStorage>& out);
uint32_t create_root(const std::string& path, StgRef<StgStorage>& out);
// Creates (replacing) the stream name with content.
uint32_t put_stream(StgStorage* parent, const std::string& name, const std::string& content);
// The whole content of the stream name; "<error N>" when it cannot be read.
std::string get_stream(StgStorage* parent, const std::string& name);
uint32_t make_storage(StgStorage* parent, const std::string& name, StgRef<StgStorage>& out);

// The listing of every element of the file, through the engine.
std::string engine_listing(const std::string& path);
// The same through olefile; with check, strict reading and tree faults
// ("FAULT ..." lines) are added.
std::string olefile_listing(const std::string& path, bool check = false);
// FNV-1a 64 of the bytes, as the listings print it.
std::string content_hash(const std::string& bytes);
// n pseudo-random bytes of stream content, the same for the same seed.
std::string stream_bytes(size_t n, uint32_t seed);
// Runs a shell command; its standard output, *status its exit status.
std::string command_output(const std::string& command, int* status = nullptr);
