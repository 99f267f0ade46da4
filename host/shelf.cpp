#include "shelf.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "common/index_cast.h"
#include "host_services.h"
#include "image.h"
#include "preset_state.h"
#include "file_read.h"
#include "files.h"
#include "shelf_store.h"
#include "quoted_text.h"

namespace host {

namespace {

struct client {
    uintptr_t id = 0;
    std::string client_class, name;
    void *user_data = nullptr;
    int flags = 0;
    LWShelfLoadOkFunc load_ok = nullptr;
    LWShelfLoadFunc load = nullptr;
    LWShelfSaveFunc save = nullptr;
};

struct shelf_state {
    std::vector<client> clients;
    uintptr_t next_id = 1;
    bool window_open = false;
    std::filesystem::path dir;
    std::string pending_name;
    bool overwrite = true;
    bool keep_in_memory = false;
    shelf_addition last;
    int additions = 0;
};

shelf_state &shelf()
{
    static shelf_state s;
    return s;
}

client *find_client(LWShelfCltID id)
{
    for (client &c : shelf().clients)
        if (c.id == reinterpret_cast<uintptr_t>(id))
            return &c;
    return nullptr;
}

LWShelfCltID subscribe(const char *client_class, const char *name, void *user_data, int flags,
                       LWShelfLoadOkFunc load_ok, LWShelfLoadFunc load, LWShelfSaveFunc save)
{
    client c;
    c.id = shelf().next_id++;
    c.client_class = client_class ? client_class : "";
    c.name = name ? name : "";
    c.user_data = user_data;
    c.flags = flags;
    c.load_ok = load_ok;
    c.load = load;
    c.save = save;
    shelf().clients.push_back(c);
    return reinterpret_cast<LWShelfCltID>(c.id);
}

void unsubscribe(LWShelfCltID id)
{
    auto &clients = shelf().clients;
    clients.erase(std::remove_if(clients.begin(), clients.end(),
                                 [&](const client &c) { return c.id == reinterpret_cast<uintptr_t>(id); }),
                  clients.end());
}

void open(LWShelfCltID) { shelf().window_open = true; }
int is_open(LWShelfCltID) { return shelf().window_open ? 1 : 0; }
void close(LWShelfCltID) { shelf().window_open = false; }

shelf_addition add(LWShelfCltID id, LWPixmapID thumbnail)
{
    shelf_addition a;
    a.in_memory = shelf().keep_in_memory;
    shelf().keep_in_memory = false;
    if (!a.in_memory)
        a.name = shelf().pending_name; // empty: the shelf picks "preset-N" as it writes
    shelf().pending_name.clear();
    const bool overwrite = shelf().overwrite;
    shelf().overwrite = true;
    const client *c = find_client(id);
    if (!c || !c->save) {
        a.error = "no subscribed client to save the preset";
        return a;
    }
    if (!a.in_memory && !a.name.empty() && !valid_preset_name(a.name)) {
        a.error = "\"" + a.name + "\" cannot name a preset: " + preset_name_rule;
        return a;
    }
    auto png = encode_png(thumbnail);
    if (!png) {
        a.error = png.error().message;
        return a;
    }
    a.png = std::move(png).value();
    preset_writer writer;
    const std::string shown_path =
        a.in_memory ? "" : (shelf_dir() / ((a.name.empty() ? "preset" : a.name) + ".preset")).string();
    c->save(c->user_data, writer.state(), shown_path.c_str());
    a.record = writer.text();
    if (a.in_memory) {
        a.added = true;
        return a;
    }

    // The preset and its thumbnail appear together or not at all, and a name another process
    // takes meanwhile is not overwritten unasked.
    const ramulon::Result<PairWrite> written = write_preset_pair(shelf_dir(), a.name, a.record, a.png, overwrite);
    if (!written) {
        a.error = written.error().message;
        return a;
    }
    a.name = written->name;
    if (written->outcome == PairWrite::exists) {
        a.exists = true;
        a.error = "a preset named \"" + a.name + "\" already exists";
        return a;
    }
    a.added = true;
    a.preset = shelf_dir() / (a.name + ".preset");
    a.thumbnail = shelf_dir() / (a.name + ".png");
    return a;
}

int add_preset(LWShelfCltID id, LWPixmapID thumbnail, const char **)
{
    shelf().last = add(id, thumbnail);
    if (!shelf().last.added)
        return 0;
    if (!shelf().last.in_memory)
        ++shelf().additions;
    return 1;
}

LWShelfFuncs funcs{subscribe, unsubscribe, open, is_open, close, add_preset};

} // namespace

LWShelfFuncs *shelf_service() { return &funcs; }

void set_shelf_dir(const std::filesystem::path &dir) { shelf().dir = dir; }

std::filesystem::path shelf_dir()
{
    if (!shelf().dir.empty())
        return shelf().dir;
    const char *home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".ramulon" / "shelf";
}

void set_preset_name(const std::string &name, bool overwrite)
{
    shelf().pending_name = name;
    shelf().overwrite = overwrite;
}
void keep_next_preset_in_memory(bool on) { shelf().keep_in_memory = on; }
bool shelf_window_open() { return shelf().window_open; }
int shelf_subscriptions() { return ramulon::index_cast<int>(shelf().clients.size()); }
const shelf_addition &last_addition() { return shelf().last; }
void forget_last_addition() { shelf().last = shelf_addition{}; }
int shelf_additions() { return shelf().additions; }

std::vector<std::string> list_presets() { return shelf_names(shelf_dir()); }

std::filesystem::path preset_file(const std::string &name_or_file)
{
    // A path is taken as given: a name never has a separator or the extension.
    const std::filesystem::path given(name_or_file);
    if (name_or_file.find('/') != std::string::npos || given.extension() == ".preset")
        return given;
    return shelf_dir() / (name_or_file + ".preset");
}

namespace {

// The client a preset goes to: the one subscribed with that user data, else the most recent.
const client *preset_client(const void *user_data)
{
    const auto &clients = shelf().clients;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it)
        if (!user_data || it->user_data == user_data)
            return &*it;
    return nullptr;
}

} // namespace

preset_application apply_preset(const std::string &name_or_file) { return apply_preset(name_or_file, nullptr); }

preset_application apply_preset(const std::string &name_or_file, const void *user_data)
{
    preset_application result;
    const std::filesystem::path file = preset_file(name_or_file);
    const bool on_shelf = file.parent_path() == shelf_dir() && file.filename() == name_or_file + ".preset";
    const auto text = on_shelf ? read_shelf_file(shelf_dir(), file.filename().string())
                               : read_regular_file(file.string(), max_preset_bytes);
    if (!text) {
        result.problem = on_shelf ? "no preset " + quoted_text(name_or_file) + " on the shelf (looked for " + file.string() + ")"
                                  : text.error().message;
        return result;
    }
    const client *subscriber = preset_client(user_data);
    if (!subscriber) {
        result.problem = "no tool is subscribed to the shelf";
        return result;
    }
    const client c = *subscriber;
    if (!c.load || (c.load_ok && !c.load_ok(c.user_data))) {
        result.problem = "the tool declined the preset";
        return result;
    }
    preset_reader reader(*text);
    c.load(c.user_data, reader.state(), file.c_str(), nullptr);
    result.applied = true;
    if (reader.failed())
        result.problem = "preset " + file.string() + ": " + reader.problem();
    return result;
}

ramulon::Status save_preset_file(const void *user_data, const std::string &path)
{
    const client *c = preset_client(user_data);
    if (!c || !c->save)
        return ramulon::fail(ramulon::ErrorKind::not_found, "no tool is subscribed to the shelf to save its preset");
    preset_writer writer;
    c->save(c->user_data, writer.state(), path.c_str());
    return write_text_file(path, writer.text());
}

} // namespace host
