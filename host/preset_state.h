// The save and load state of presets: one item per line, "I4 <integer>" or "FP <float>". A
// writer never fails; a reader's failures stay with the reader (failed(), problem()) and reach
// the plug-in as its interface's own answer (a count of 0 items read).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "plugin_api.h"

namespace host {

// Collects what a client writes into the text of a preset.
class preset_writer {
public:
    preset_writer();
    const LWSaveState *state() const { return &state_; }
    const std::string &text() const { return text_; }

private:
    static void write_i4(void *data, const int32_t *values, int count);
    static void write_fp(void *data, const float *values, int count);
    LWSaveState state_;
    std::string text_;
};

// Hands the items of a preset's text to a client. The first read that cannot be served (past
// the end, a malformed line, a non-finite float, an item of the other kind) fails, and so do
// all reads after it; `problem` then names the line.
class preset_reader {
public:
    explicit preset_reader(const std::string &text);
    const LWLoadState *state() const { return &state_; }
    bool failed() const { return failed_; }
    int bad_line() const { return bad_line_; } // 1-based; 0 while nothing failed
    const std::string &problem() const { return problem_; }
    std::size_t items_read() const { return next_; }
    std::size_t items() const { return lines_.size(); }

private:
    static int read_i4(void *data, int32_t *values, int count);
    static int read_fp(void *data, float *values, int count);
    template <typename T, typename Parse>
    static int read_items(void *data, T *values, int count, const char *kind, Parse parse);
    bool next_item(const char *kind, std::string &value);
    void fail(const std::string &why);
    LWLoadState state_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
    bool failed_ = false;
    int bad_line_ = 0;
    std::string problem_;
};

} // namespace host
