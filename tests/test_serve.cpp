// `ramulon serve`: the server runs in-process on a free port with the module file, and the tests
// talk to it as the page does.
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include "export/export.h"
#include "serve/server.h"
#include "host/xpanel.h"
#include "support/child_process.h"
#include "support/panel_session.h"

namespace ramulon {
namespace {

using json = nlohmann::json;

struct Reply {
    int status = 0;
    json body;
    std::string bytes;
    std::string header(const std::string &key) const { return headers.count(key) ? headers.at(key) : ""; }
    std::map<std::string, std::string> headers;
};

serve::ServeOptions options_for(const std::string &shelf, const std::string &background = "")
{
    serve::ServeOptions options;
    options.tool.plugin = std::string(RAMULON_MODULE_DIR) + "/RamulonVE11.so";
    options.tool.background = background;
    options.port = 0;
    options.shelf = shelf;
    options.web = shelf + "/no-page-here";
    options.samples = std::string(RAMULON_SOURCE_DIR) + "/samples";
    return options;
}

std::string sample(const std::string &name) { return std::string(RAMULON_SOURCE_DIR) + "/samples/" + name + ".obj"; }

// A server on a free port with a shelf folder of its own, and a client for it.
class Served : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::signal(SIGPIPE, SIG_IGN); // as the command does: a client gone is no reason to stop
        start(options_for(shelf.path));
    }

    void start(const serve::ServeOptions &options)
    {
        server = std::make_unique<serve::ServeServer>();
        ASSERT_EQ(server->start(options).message(), "");
        client = connect(server->port());
    }
    // Builds under the sanitizers on a busy machine take a while: no answer is given up on.
    static std::unique_ptr<httplib::Client> connect(int port)
    {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
        c->set_read_timeout(std::chrono::seconds(300));
        c->set_write_timeout(std::chrono::seconds(300));
        return c;
    }
    void restart(const serve::ServeOptions &options)
    {
        client.reset();
        server.reset(); // one session at a time: both would share the module's tool
        start(options);
    }

    Reply answer(const httplib::Result &r)
    {
        Reply reply;
        if (!r) {
            ADD_FAILURE() << "no answer: " << httplib::to_string(r.error());
            return reply;
        }
        reply.status = r->status;
        reply.bytes = r->body;
        for (const auto &[key, value] : r->headers)
            reply.headers[key] = value;
        if (r->get_header_value("Content-Type") == "application/json")
            reply.body = json::parse(r->body);
        return reply;
    }
    Reply get(const std::string &path) { return answer(client->Get(path.c_str())); }
    Reply post(const std::string &path, const json &body)
    {
        return answer(client->Post(path.c_str(), body.dump(), "application/json"));
    }
    Reply set(unsigned long id, const json &value) { return post("/api/set", {{"id", id}, {"value", value}}); }
    json state() { return get("/api/state").body; }

    static json control(const json &state, unsigned long id)
    {
        for (const json &c : state["controls"])
            if (c["id"] == id)
                return c;
        ADD_FAILURE() << "no control " << id;
        return {};
    }

    PresetFolder shelf;
    std::unique_ptr<serve::ServeServer> server;
    std::unique_ptr<httplib::Client> client;
};

constexpr unsigned long branches = 32770, refresh = 32800, branch_thickness = 32775,
                        crookedness = 32772, tree_center = 32777, render_type = 32792;

TEST(ServeUnits, DisplayAndStoredValuesArePairs)
{
    host::panel_control angle, percent, distance;
    angle.control_type = "angle";
    percent.control_type = "percent";
    distance.control_type = "distance";
    EXPECT_DOUBLE_EQ(host::from_display(angle, 180.0), host::panel_pi);
    EXPECT_DOUBLE_EQ(host::to_display(angle, host::panel_pi), 180.0);
    EXPECT_DOUBLE_EQ(host::from_display(percent, 40.0), 0.4);
    EXPECT_DOUBLE_EQ(host::from_display(distance, 0.03), 0.03);
    for (double v : {-10.0, 0.0, 12.5, 45.0, 200.0})
        for (const host::panel_control *c : {&angle, &percent, &distance})
            EXPECT_NEAR(host::to_display(*c, host::from_display(*c, v)), v, 1e-12);
}

TEST_F(Served, StateShowsThePanelInDisplayUnits)
{
    const json s = state();
    EXPECT_EQ(s["title"], "Ramulon 1.6");
    EXPECT_EQ(s["active"], true);
    EXPECT_EQ(s["tabs"], json({"Tree", "Twig", "Leaf", "Advanced"}));
    std::vector<std::string> top;
    for (const json &c : s["controls"])
        if (c["tab"] == "")
            top.push_back(c["label"]);
    EXPECT_EQ(top, (std::vector<std::string>{"", "About", "Refresh", "Render Type", "Presets", "Add Preset",
                                             "--hidden--"}));
    EXPECT_EQ(control(s, 32810)["value"], "1.6.28");
    EXPECT_EQ(control(s, 32791)["hidden"], true);

    const json b = control(s, branches);
    EXPECT_EQ(b["type"], "integer");
    EXPECT_EQ(b["tab"], "Tree");
    EXPECT_EQ(b["value"], 150);
    EXPECT_EQ(b["range"], json({{"min", 1}, {"max", 2000}, {"step", 1}}));
    EXPECT_EQ(control(s, refresh)["choices"], json({"Manual", "Automatic"}));
    EXPECT_EQ(control(s, crookedness)["range"]["max"], 45);
    EXPECT_EQ(control(s, tree_center)["range"]["max"], 200);

    // The page's degrees and percent arrive as the tool's radians and fractions.
    EXPECT_EQ(set(crookedness, 30).status, 200);
    EXPECT_EQ(set(tree_center, 40).status, 200);
    const json after = state();
    EXPECT_NEAR(control(after, crookedness)["value"].get<double>(), 30.0, 1e-9);
    EXPECT_EQ(control(after, tree_center)["text"], "40 %");

    EXPECT_EQ(s["build"]["count"], 1); // the page opens on a tree
    EXPECT_EQ(s["build"]["error"], nullptr);
    EXPECT_EQ(s["background"]["name"], "round_crown");
    EXPECT_EQ(get("/api/samples").body, json({"broad_crown", "cone_crown", "flat_crown", "round_crown", "shrub_crown",
                                              "slender_crown", "tall_crown", "two_lobes", "vase_crown", "weeping_crown"}));
}

TEST_F(Served, EditsGoThroughTheToolsSetter)
{
    Reply r = set(branches, 0);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(control(r.body, branches)["value"], 2);

    EXPECT_EQ(set(branches, 2.5).status, 400);
    EXPECT_EQ(set(branches, "many").status, 400);
    EXPECT_EQ(set(refresh, 2).status, 400); // no third choice
    EXPECT_EQ(set(32769, 1).status, 400);   // "About" is pressed, not set
    EXPECT_EQ(set(99999, 1).status, 404);
    r = post("/api/set", {{"value", 1}});
    EXPECT_EQ(r.status, 400);
    EXPECT_FALSE(r.body["error"].get<std::string>().empty());
    EXPECT_EQ(answer(client->Post("/api/set", "{", "application/json")).status, 400);
}

TEST_F(Served, AutomaticRebuildsAndManualWaitsForBuild)
{
    const json before = state()["build"];
    Reply r = set(branches, 40);
    EXPECT_EQ(r.body["rebuilt"], true);
    EXPECT_EQ(r.body["build"]["count"], 2);
    EXPECT_NE(r.body["build"]["polygons"], before["polygons"]);

    r = set(refresh, 0); // from "Automatic" to "Manual": no build
    EXPECT_EQ(r.body["rebuilt"], false);
    r = set(branches, 300);
    EXPECT_EQ(r.body["rebuilt"], false);
    EXPECT_EQ(r.body["build"]["count"], 2);
    const json manual = r.body["build"];

    r = post("/api/build", json::object());
    EXPECT_EQ(r.body["rebuilt"], true);
    EXPECT_EQ(r.body["build"]["count"], 3);
    EXPECT_NE(r.body["build"]["polygons"], manual["polygons"]);

    EXPECT_EQ(set(refresh, 0).body["rebuilt"], true); // choosing "Manual" again asks for one
    EXPECT_EQ(set(render_type, 1).body["rebuilt"], true); // "Render Type" always does
}

TEST_F(Served, OutputEditRedrawsTheKeptSkeleton)
{
    // Growth advances the monitor once per branch; a redraw only for the capture and the output.
    Reply r = set(branch_thickness, 0.05);
    ASSERT_EQ(r.body["rebuilt"], true);
    json progress = get("/api/progress").body;
    EXPECT_EQ(progress["building"], false);
    EXPECT_EQ(progress["total"], 154);
    EXPECT_EQ(progress["done"], 2);

    r = set(crookedness, 20); // growth
    ASSERT_EQ(r.body["rebuilt"], true);
    progress = get("/api/progress").body;
    EXPECT_GT(progress["done"].get<unsigned>(), 100u);
    EXPECT_EQ(progress["title"], "Randomising positions...");
}

TEST_F(Served, ProgressAnswersWhileABuildRuns)
{
    ASSERT_EQ(set(refresh, 0).status, 200);
    ASSERT_EQ(set(branches, 600).status, 200);
    std::thread building([this] {
        auto r = connect(server->port())->Post("/api/build", "{}", "application/json");
        EXPECT_TRUE(r && r->status == 200);
    });
    const auto poller = connect(server->port());
    for (int k = 0; k < 20; ++k) {
        auto r = poller->Get("/api/progress");
        ASSERT_TRUE(r && r->status == 200);
        const json p = json::parse(r->body);
        EXPECT_LE(p["done"].get<unsigned>(), 604u);
    }
    building.join();
    const json p = get("/api/progress").body;
    EXPECT_EQ(p["building"], false);
    EXPECT_EQ(p["total"], 604);
}

TEST_F(Served, ANewCrownRegrowsTheTree)
{
    // The figures of a session that starts on the tall crown.
    restart(options_for(shelf.path, sample("tall_crown")));
    const json fresh = state()["build"];
    EXPECT_EQ(state()["background"]["name"], "tall_crown");
    restart(options_for(shelf.path));
    const json round = state()["build"];
    ASSERT_NE(round["polygons"], fresh["polygons"]);

    Reply r = post("/api/background", {{"sample", "tall_crown"}});
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body["rebuilt"], true);
    EXPECT_EQ(r.body["background"]["name"], "tall_crown");
    EXPECT_EQ(r.body["build"]["points"], fresh["points"]);
    EXPECT_EQ(r.body["build"]["polygons"], fresh["polygons"]);

    // In "Manual" the crown waits for the build, which then grows from it.
    ASSERT_EQ(set(refresh, 0).status, 200);
    r = post("/api/background", {{"sample", "round_crown"}});
    EXPECT_EQ(r.body["rebuilt"], false);
    EXPECT_EQ(r.body["build"]["polygons"], fresh["polygons"]);
    r = post("/api/build", json::object());
    EXPECT_EQ(r.body["build"]["polygons"], round["polygons"]);

    EXPECT_EQ(post("/api/background", {{"sample", "../round_crown"}}).status, 404);
}

TEST_F(Served, UploadsReplaceTheCrownOnlyWhenUsable)
{
    const std::string crown = get("/api/background.json").bytes;
    auto upload = [&](const std::string &bytes, const std::string &name) {
        return answer(client->Post("/api/background/upload", httplib::Headers{{"X-Filename", name}}, bytes,
                                   "application/octet-stream"));
    };
    Reply r = upload("v 0 1 0\nv 1 1\n", "broken.obj");
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.body["error"], "broken.obj:2: \"v\" needs 3 to 7 numbers");
    r = upload("v 0 1 0\nv 1 1 0\nl 1 2\n", "lines.obj");
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(get("/api/background.json").bytes, crown);
    EXPECT_EQ(state()["background"]["name"], "round_crown");

    r = upload(std::string(serve::max_upload_bytes + 1, '#'), "huge.obj");
    EXPECT_EQ(r.status, 413);
    EXPECT_EQ(r.body["error"], "The file is larger than 20 MB.");
    EXPECT_EQ(get("/api/background.json").bytes, crown);

    std::ifstream in(sample("flat_crown"));
    const std::string flat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    r = upload(flat, "my crown.obj");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body["background"]["name"], "my crown");
    EXPECT_EQ(r.body["rebuilt"], true);
    const json bg = get("/api/background.json").body;
    EXPECT_EQ(bg["positions"].size(), 3 * r.body["background"]["points"].get<std::size_t>());
    EXPECT_EQ(bg["polygons"].size(), r.body["background"]["polygons"].get<std::size_t>());
}

TEST_F(Served, PresetsKeepToTheShelfFolder)
{
    const std::string message = "Preset names may use letters, digits, spaces, - and _ only.";
    for (const std::string &bad : std::vector<std::string>{"../x", "", "a.b", "a/b", std::string(65, 'a')}) {
        Reply r = post("/api/shelf/add", {{"name", bad}, {"overwrite", false}});
        EXPECT_EQ(r.status, 400) << bad;
        EXPECT_EQ(r.body["error"], message);
    }
    EXPECT_FALSE(std::filesystem::exists(shelf.path + "/../x.preset"));

    Reply r = post("/api/shelf/add", {{"name", "my tree"}, {"overwrite", false}});
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body["shelf"], json::parse(R"([{"name": "my tree", "thumbnail": "/api/shelf/my%20tree.png"}])"));
    EXPECT_EQ(r.body["rebuilt"], false);
    EXPECT_EQ(r.body["title"], "Ramulon 1.6");
    r = post("/api/shelf/add", {{"name", "my tree"}, {"overwrite", false}});
    EXPECT_EQ(r.status, 409);
    EXPECT_EQ(r.body["error"], "A preset named \"my tree\" already exists.");
    EXPECT_EQ(post("/api/shelf/add", {{"name", "my tree"}, {"overwrite", true}}).status, 200);

    const Reply png = get("/api/shelf/my%20tree.png");
    EXPECT_EQ(png.status, 200);
    EXPECT_EQ(png.bytes.substr(1, 3), "PNG");
    EXPECT_EQ(get("/api/shelf/nothing.png").status, 404);

    // Applying restores the values, and in "Automatic" grows the tree again.
    const json kept = state()["build"];
    ASSERT_EQ(set(branches, 40).status, 200);
    ASSERT_EQ(set(crookedness, 5).status, 200);
    r = post("/api/shelf/apply", {{"name", "my tree"}});
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body["rebuilt"], true);
    EXPECT_EQ(control(r.body, branches)["value"], 150);
    EXPECT_EQ(r.body["build"]["polygons"], kept["polygons"]);
    EXPECT_EQ(post("/api/shelf/apply", {{"name", "gone"}}).status, 404);
    EXPECT_EQ(post("/api/shelf/apply", {{"name", "../gone"}}).status, 400);
}

// The tree of a build goes from the session to its exports: an export that holds it keeps it
// whole while the next build grows another (a failed build's nothing: MeshAndDownloads).
TEST(ServeTreeHost, ABuildsTreeOutlivesTheNextBuild)
{
    const auto coordinates = [](const host::Layer &layer) {
        std::vector<double> xyz;
        for (const host::Vec3 &p : layer.points)
            xyz.insert(xyz.end(), {p.x, p.y, p.z});
        return xyz;
    };
    PresetFolder shelf;
    serve::TreeHost tree;
    ASSERT_EQ(tree.open(options_for(shelf.path)).message(), "");
    const ramulon::Result<serve::BuiltTree> first = tree.built();
    ASSERT_TRUE(first) << first.error().message;
    const std::vector<double> points = coordinates(*first->layer);
    ASSERT_FALSE(points.empty());

    const ramulon::Result<json> grown = tree.set(branches, 40);
    ASSERT_TRUE(grown) << grown.error().message;
    ASSERT_EQ((*grown)["rebuilt"], true);
    const ramulon::Result<serve::BuiltTree> second = tree.built();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->build, first->build + 1);
    EXPECT_EQ(second->layer->points.size(), (*grown)["build"]["points"].get<std::size_t>());
    EXPECT_NE(coordinates(*second->layer), points);
    EXPECT_EQ(coordinates(*first->layer), points) << "the earlier build's tree changed under its export";
    // The exports of one build share its one tree; an earlier build's are refused.
    EXPECT_EQ(tree.built()->layer, second->layer);
    EXPECT_EQ(tree.built(first->build).error().kind, ramulon::ErrorKind::conflict);
}

// With no export holding it, the last tree's arrays are the room the next one grows in: the
// trees grown there, larger or smaller than the last, are the trees grown afresh, byte for byte.
TEST(ServeTreeHost, TreesGrownInTheLastOnesRoomAreTheTreesGrownAfresh)
{
    const auto glb_of = [](serve::TreeHost &tree) {
        const ramulon::Result<serve::BuiltTree> built = tree.built();
        EXPECT_TRUE(built);
        const ramulon::Result<std::string> bytes =
            built ? exporter::write_tree_to_memory(*built->layer, exporter::WriteOptions{}) : std::string();
        EXPECT_TRUE(bytes);
        return bytes ? *bytes : std::string();
    };
    PresetFolder shelf;
    std::vector<std::string> afresh;
    for (const int count : {60, 20}) {
        serve::TreeHost tree;
        ASSERT_EQ(tree.open(options_for(shelf.path)).message(), "");
        ASSERT_TRUE(tree.set(branches, count));
        afresh.push_back(glb_of(tree));
    }
    serve::TreeHost tree;
    ASSERT_EQ(tree.open(options_for(shelf.path)).message(), "");
    ASSERT_TRUE(tree.set(branches, 60)); // in the room of the tree the page opened on
    EXPECT_EQ(glb_of(tree), afresh[0]);
    ASSERT_TRUE(tree.set(branches, 20)); // in the larger tree's room
    EXPECT_EQ(glb_of(tree), afresh[1]);
    ASSERT_TRUE(tree.set(branches, 60)); // in the smaller tree's room
    EXPECT_EQ(glb_of(tree), afresh[0]);
}

// The GLB's JSON chunk.
json glb_json(const std::string &bytes)
{
    if (bytes.size() < 20)
        return {};
    std::uint32_t length = 0;
    std::memcpy(&length, bytes.data() + 12, 4);
    return json::parse(bytes.substr(20, length), nullptr, false);
}

TEST_F(Served, MeshAndDownloads)
{
    const Reply glb = get("/api/mesh.glb?n=1");
    ASSERT_EQ(glb.status, 200);
    EXPECT_EQ(glb.bytes.substr(0, 4), "glTF");
    EXPECT_EQ(glb.header("Content-Type"), "model/gltf-binary");

    const Reply exported = get("/api/export.glb");
    EXPECT_EQ(exported.header("Content-Disposition"), "attachment; filename=\"tree.glb\"");
    EXPECT_EQ(exported.bytes.substr(0, 4), "glTF");
    const Reply obj = get("/api/export.obj");
    EXPECT_EQ(obj.header("Content-Disposition"), "attachment; filename=\"tree.obj\"");
    EXPECT_NE(obj.bytes.find("mtllib tree.mtl"), std::string::npos);
    const Reply mtl = get("/api/export.mtl");
    EXPECT_EQ(mtl.header("Content-Disposition"), "attachment; filename=\"tree.mtl\"");
    EXPECT_NE(mtl.bytes.find("newmtl"), std::string::npos);
    // Tubes: the bark the MTL names comes from the server too.
    const Reply tubes = set(render_type, 1);
    ASSERT_EQ(tubes.status, 200);
    // The edit's answer and the view after it each tell the server's time: the build's, the GLB's.
    EXPECT_TRUE(tubes.header("Server-Timing").starts_with("build;dur=")) << tubes.header("Server-Timing");
    const Reply view = get("/api/mesh.glb?n=" + std::to_string(tubes.body["build"]["count"].get<int>()));
    EXPECT_TRUE(view.header("Server-Timing").starts_with("glb;dur=")) << view.header("Server-Timing");
    // The view is the download's tree, every primitive, count and bound; only the order of its
    // triangles and vertices may differ (the download's is the one engines are given).
    const Reply download = get("/api/export.glb");
    EXPECT_EQ(glb_json(view.bytes), glb_json(download.bytes));
    EXPECT_EQ(view.bytes.size(), download.bytes.size());
    EXPECT_EQ(post("/api/shelf/add", {{"name", "timed"}}).header("Server-Timing"), "") << "nothing was built";
    const std::string names = get("/api/export.mtl").bytes;
    EXPECT_NE(names.find("map_Kd tree_bark.png"), std::string::npos);
    EXPECT_NE(names.find("map_Bump tree_bark_normal.png"), std::string::npos);
    const Reply bark = get("/api/tree_bark.png");
    EXPECT_EQ(bark.header("Content-Disposition"), "attachment; filename=\"tree_bark.png\"");
    EXPECT_EQ(bark.bytes.substr(1, 3), "PNG");
    const Reply relief = get("/api/tree_bark_normal.png");
    EXPECT_EQ(relief.header("Content-Disposition"), "attachment; filename=\"tree_bark_normal.png\"");
    EXPECT_EQ(relief.bytes.substr(1, 3), "PNG");

    // A failed build leaves nothing to show.
    std::ofstream(shelf.file("lines.obj")) << "v 0 1 0\nv 1 1 0\nl 1 2\n";
    restart(options_for(shelf.path, shelf.file("lines.obj")));
    EXPECT_EQ(state()["build"]["error"], "Need something in BG Layer");
    const Reply none = get("/api/mesh.glb");
    EXPECT_EQ(none.status, 404);
    EXPECT_EQ(none.body["error"], "No tree is built yet.");
    EXPECT_EQ(get("/api/export.obj").status, 404);
}

TEST_F(Served, GameReadyMeshesOnAsking)
{
    // The default tree is a skeleton: levels yes, a far card has nothing to picture and is left out.
    const Reply levels = get("/api/mesh.glb?n=1&lod=3&impostor=1");
    ASSERT_EQ(levels.status, 200);
    const json gltf = glb_json(levels.bytes);
    std::vector<std::string> names;
    for (const json &node : gltf["nodes"])
        names.push_back(node["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"tree", "tree_LOD0", "tree_LOD1", "tree_LOD2"}));

    const json small = glb_json(get("/api/export.glb?compress=1").bytes);
    EXPECT_EQ(small["extensionsRequired"], json({"EXT_meshopt_compression", "KHR_mesh_quantization"}));

    for (const char *bad : {"0", "9", "x", "", "100000000000"}) {
        const Reply refused = get(std::string("/api/mesh.glb?lod=") + bad);
        EXPECT_EQ(refused.status, 400) << bad;
        EXPECT_EQ(refused.body["error"], "\"lod\" must be a whole number from 1 to 8.") << bad;
    }
}

TEST_F(Served, APortInUseIsRefused)
{
    serve::ServeOptions options = options_for(shelf.path);
    options.port = server->port();
    serve::ServeServer second;
    EXPECT_EQ(second.start(options).message(),
              "cannot listen on 127.0.0.1:" + std::to_string(server->port()) + ": Address already in use");
    EXPECT_EQ(get("/api/state").status, 200);
}

TEST_F(Served, ThePageAndUnknownAddresses)
{
    Reply r = get("/");
    EXPECT_EQ(r.status, 503);
    EXPECT_NE(r.bytes.find("make web"), std::string::npos);
    EXPECT_EQ(get("/api/nothing").status, 404);
    EXPECT_EQ(get("/api/nothing").body["error"], "There is no /api/nothing.");

    const std::string web = shelf.file("page");
    std::filesystem::create_directories(web + "/assets");
    std::ofstream(web + "/index.html") << "<html>tree</html>";
    std::ofstream(web + "/assets/app.js") << "let tree;";
    std::ofstream(shelf.file("secret.txt")) << "no";
    serve::ServeOptions options = options_for(shelf.path);
    options.web = web;
    restart(options);
    r = get("/");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.bytes, "<html>tree</html>");
    EXPECT_EQ(r.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(get("/assets/app.js").header("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(get("/../secret.txt").status, 404);
    EXPECT_EQ(get("/assets/%2e%2e/%2e%2e/secret.txt").status, 404);
}

// The command itself: it says where it listens once it does, and SIGTERM ends it cleanly.
TEST(ServeCommand, PrintsItsAddressAndStopsOnSigterm)
{
    PresetFolder shelf;
    std::string line;
    const pid_t pid = start_serve_process(shelf.path, line);
    ASSERT_GE(pid, 0);

    const std::string prefix = "Serving on http://127.0.0.1:";
    EXPECT_EQ(line.substr(0, prefix.size()), prefix);
    const int port = std::atoi(line.c_str() + std::min(prefix.size(), line.size()));
    if (port > 0) {
        httplib::Client client("127.0.0.1", port);
        auto r = client.Get("/api/progress");
        EXPECT_TRUE(r && r->status == 200);
    }
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace ramulon
