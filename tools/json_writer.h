// A small writer of compact JSON text, and the quoting of texts for JSON and
// for the terminal. Texts from files are bytes of unknown encoding: valid
// UTF-8 passes through, any other byte is taken as Latin-1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvtool {

// The text as a JSON string literal, quotes included.
std::string json_quote(std::string_view text);

// The text in double quotes for a terminal: control characters and bytes
// that are not valid UTF-8 appear as escapes (\n, \t, \x1b, ...).
std::string display_quote(std::string_view text);

class JsonWriter {
public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    // The name of the next member of the current object.
    void key(std::string_view name);
    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(uint64_t number);
    void value(int64_t number);
    void value(uint32_t number) { value(static_cast<uint64_t>(number)); }
    void value(int number) { value(static_cast<int64_t>(number)); }
    void value(bool flag);
    void null();
    // Shorthands for one member.
    template <typename T>
    void member(std::string_view name, const T& v) {
        key(name);
        value(v);
    }

    const std::string& text() const { return out_; }

private:
    void separate();

    std::string out_;
    std::vector<bool> empty_;  // per open container: nothing written yet
    bool afterKey_ = false;
};

}  // namespace qvtool
