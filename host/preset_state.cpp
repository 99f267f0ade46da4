#include "preset_state.h"

#include <cmath>
#include <cstdio>

#include "common/index_cast.h"
#include "number_text.h"
#include "quoted_text.h"

namespace host {

namespace {
// The smallest magnitude that rounds to infinity as a float: FLT_MAX plus half its last step.
constexpr double float_overflow = 0x1.ffffffp127;
} // namespace

preset_writer::preset_writer() : state_{this, write_i4, write_fp} {}

void preset_writer::write_i4(void *data, const int32_t *values, int count)
{
    auto *w = static_cast<preset_writer *>(data);
    for (int k = 0; k < count; ++k)
        w->text_ += "I4 " + std::to_string(values[k]) + "\n";
}

void preset_writer::write_fp(void *data, const float *values, int count)
{
    auto *w = static_cast<preset_writer *>(data);
    for (int k = 0; k < count; ++k) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "FP %.9g\n", static_cast<double>(values[k]));
        w->text_ += buf;
    }
}

preset_reader::preset_reader(const std::string &text) : state_{this, read_i4, read_fp}
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        lines_.push_back(std::move(line));
        start = end + 1;
    }
}

void preset_reader::fail(const std::string &why)
{
    failed_ = true;
    bad_line_ = ramulon::index_cast<int>(next_) + 1;
    problem_ = "line " + std::to_string(bad_line_) + ": " + why;
}

// The value text of the next line if it holds an item of the kind asked for.
bool preset_reader::next_item(const char *kind, std::string &value)
{
    if (failed_)
        return false;
    if (next_ >= lines_.size()) {
        fail(std::string("the preset ends where an ") + kind + " item was expected");
        return false;
    }
    const std::string &line = lines_[next_];
    const std::string prefix = std::string(kind) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0 || line.size() == prefix.size()) {
        fail(std::string("expected an ") + kind + " item, found " + quoted_text(line));
        return false;
    }
    value = line.substr(prefix.size());
    return true;
}

// Serves count items of one kind; stops at the first that cannot be had.
template <typename T, typename Parse>
int preset_reader::read_items(void *data, T *values, int count, const char *kind, Parse parse)
{
    auto *r = static_cast<preset_reader *>(data);
    for (int k = 0; k < count; ++k) {
        std::string text;
        if (!r->next_item(kind, text))
            return k;
        const std::optional<T> v = parse(text);
        if (!v) {
            r->fail(quoted_text(text) + " is no " + (std::string(kind) == "I4" ? "32-bit integer" : "finite float"));
            return k;
        }
        values[k] = *v;
        ++r->next_;
    }
    return count;
}

int preset_reader::read_i4(void *data, int32_t *values, int count)
{
    return read_items(data, values, count, "I4", parse_int32);
}

int preset_reader::read_fp(void *data, float *values, int count)
{
    return read_items(data, values, count, "FP", [](const std::string &text) -> std::optional<float> {
        const std::optional<double> v = parse_finite(text);
        if (!v || std::fabs(*v) >= float_overflow)
            return std::nullopt;
        return static_cast<float>(*v);
    });
}

} // namespace host
