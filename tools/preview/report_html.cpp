// The report as one self-contained HTML page that a support engineer can
// send to a customer: no script, no network, styles inline. The machine,
// each dialog as the user saw it with the answer given, what went and what
// stays as a tree of keys (with why each stays), the device nodes, the
// restart. The counts carry ids (count-...) so that a test can read them
// back from the rendered page.
#include "report.h"
#include "report_values.h"

#include "load_machine.h"

#include "devices/device_state.h"

#include <algorithm>
#include <map>
#include <memory>

namespace preview {

namespace {

// Escaped for HTML text and attribute values. The report is built in the
// machine's code page and turned into UTF-8 as a whole, as the text report
// is; the characters escaped are ASCII in every single-byte code page.
std::string escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string count(const char* id, size_t n) { return "<b id=\"count-" + std::string(id) + "\">" + std::to_string(n) + "</b>"; }

// A tree of key paths, each leaf (or inner key) marked as gone or staying.
struct PathNode {
    std::map<std::string, std::unique_ptr<PathNode>> children;  // in path order
    std::string mark;    // "gone", "stays" or empty for a key only on the way
    std::string note;    // what goes with it, or why it stays
};

void addPath(PathNode& top, const std::string& path, const std::string& mark, const std::string& note)
{
    PathNode* node = &top;
    size_t from = 0;
    while (from <= path.size()) {
        const size_t end = std::min(path.find('\\', from), path.size());
        auto& child = node->children[path.substr(from, end - from)];
        if (!child)
            child = std::make_unique<PathNode>();
        node = child.get();
        from = end + 1;
    }
    node->mark = mark;
    node->note = node->note.empty() ? note : node->note + "; " + note;
}

void writeTree(const PathNode& node, std::string& out)
{
    out += "<ul>";
    for (const auto& [name, child] : node.children) {
        out += "<li" + (child->mark.empty() ? std::string() : " class=\"" + child->mark + "\"") + ">";
        const std::string label = "<code>" + escape(name) + "</code>" +
                                  (child->note.empty() ? "" : " <span class=\"note\">" + escape(child->note) + "</span>");
        if (child->children.empty()) {
            out += label;
        } else {
            out += "<details open><summary>" + label + "</summary>";
            writeTree(*child, out);
            out += "</details>";
        }
        out += "</li>";
    }
    out += "</ul>";
}

const char* const Style = R"(
body { font: 14px/1.4 sans-serif; margin: 2em; color: #222; max-width: 80em; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.5em; border-bottom: 1px solid #ccc; }
table.facts td { padding: 0.1em 1em 0.1em 0; vertical-align: top; }
.call { margin: 1em 0; } .result { font-weight: bold; }
.dialog { display: inline-block; border: 1px solid #777; background: #f0f0f0; margin: 0.5em 0 0.5em 2em;
          box-shadow: 2px 2px 4px #aaa; max-width: 40em; font-family: Tahoma, sans-serif; font-size: 13px; }
.dialog .caption { background: #0a246a; color: #fff; padding: 0.2em 0.5em; font-weight: bold; }
.dialog .body { padding: 0.8em 1em; display: flex; gap: 0.8em; }
.dialog .icon { flex: none; width: 2em; height: 2em; border-radius: 1em; background: #2a5db0; color: #fff;
                text-align: center; line-height: 2em; font-weight: bold; font-style: italic; }
.dialog .buttons { text-align: center; padding: 0 0 0.8em; }
.dialog button { min-width: 6em; margin: 0 0.3em; }
.dialog button.answered { outline: 2px solid #c60; }
.answer { margin-left: 2em; color: #555; }
ul { list-style: none; padding-left: 1.2em; margin: 0; }
li.gone > code, li.gone > details > summary > code { color: #a00; text-decoration: line-through; }
li.stays > code, li.stays > details > summary > code { color: #060; font-weight: bold; }
.note { color: #555; font-size: 0.9em; }
)";

}  // namespace

std::string htmlReport(const RunResult& run, const ReportOptions& options)
{
    const Setup& setup = run.setup;
    const regfile::CodePage& codePage = options.codePage ? *options.codePage : regfile::CodePage::windows1252();
    const Road road = roadOf(setup.windows);
    const Changes changes = diff(run.before, run.after);
    const std::vector<VendorTrace> traces = vendorTraces(run);
    std::string out;

    out += "<h2>The machine</h2><table class=\"facts\">";
    const auto fact = [&](const std::string& name, const std::string& value) {
        out += "<tr><td>" + name + "</td><td>" + value + "</td></tr>";
    };
    fact("Windows", escape(windowsVersionName(setup.windows)));
    fact("Road", escape(road.text));
    fact("User", setup.administrator ? "an administrator" : "not an administrator");
    fact("Device instances", std::to_string(deviceInstances(run.before, road.enumPath).size()) + " under " +
                                 escape(shortPath(road.enumPath)) + ", " + std::to_string(run.presentDevices.size()) +
                                 " attached");
    out += "</table>";

    out += "<h2>What the installer called</h2>";
    size_t dialogs = 0;
    for (const CallOutcome& c : run.calls) {
        out += "<div class=\"call\"><code>" + escape(c.exportName) +
               (c.readsText ? "(\"" + escape(c.text) + "\")" : "()") + "</code> answered <span class=\"result\">" +
               std::to_string(static_cast<long long>(c.result)) + "</span>: " + escape(c.meaning);
        for (const Dialog& d : c.dialogs) {
            ++dialogs;
            const std::string given = dialogResultName(d.result);
            out += "<br><div class=\"dialog\"><div class=\"caption\">" + escape(d.caption) +
                   "</div><div class=\"body\"><div class=\"icon\">i</div><div>" + escape(d.text) +
                   "</div></div><div class=\"buttons\">";
            for (const std::string& b : d.buttons) {
                std::string label = b;
                label.erase(std::remove(label.begin(), label.end(), '&'), label.end());
                out += "<button" + std::string(label == given ? " class=\"answered\"" : "") + ">" + escape(label) +
                       "</button>";
            }
            out += "</div></div><div class=\"answer\">The user answered: " + escape(given) + "</div>";
        }
        out += "</div>";
    }
    for (const std::string& name : run.notRun)
        out += "<div class=\"call\"><code>" + escape(name) + "</code> not run: UninstInitialize stopped the uninstall</div>";

    out += "<h2>What goes and what stays</h2><p>" + count("keys-deleted", changes.keysDeleted.size()) +
           " keys deleted, " + count("values-deleted", changes.valuesDeleted.size()) + " values deleted, " +
           count("keys-created", changes.keysCreated.size()) + " keys created, " +
           count("values-added", changes.valuesAdded.size()) + " values added, " +
           count("values-changed", changes.valuesChanged.size()) + " values changed; " +
           count("traces", traces.size()) + " of the vendor's keys and values stay.</p>";
    PathNode tree;
    for (const KeyChange& k : changes.keysDeleted)
        addPath(tree, k.path, "gone",
                k.keysBelow ? "deleted, and " + plural(k.keysBelow, "key", "keys") + " below" : "deleted");
    for (const KeyChange& k : changes.keysCreated)
        addPath(tree, k.path, "", "created");
    for (const ValueChange& v : changes.valuesDeleted)
        addPath(tree, v.keyPath, "", "value " + valueName(v.name) + " deleted");
    for (const VendorTrace& t : traces)
        addPath(tree, t.keyPath + (t.valueName ? "\\" + valueName(*t.valueName) : ""), "stays",
                (t.user.empty() ? "" : t.user + ": ") + (t.reason.empty() ? "stays" : t.reason));
    writeTree(tree, out);

    out += "<h2>Device nodes</h2><p>" + count("devices-removed", changes.devicesRemoved.size()) + " removed, " +
           count("devices-created", changes.devicesCreated.size()) + " created.</p><ul>";
    for (const std::string& id : changes.devicesRemoved)
        out += "<li class=\"gone\"><code>" + escape(id) + "</code></li>";
    for (const std::string& id : changes.devicesCreated)
        out += "<li><code>" + escape(id) + "</code> created</li>";
    out += "</ul>";

    out += "<h2>Restart</h2><p>" +
           std::string(run.rebootRequired ? "A driver install asked for a restart (NeedReboot answers 1)."
                                          : "No driver install asked for a restart (NeedReboot answers 0).") +
           (restartMessageShown(run) ? " A message told the user to restart Windows." : "") + "</p>";
    out += "<p>" + count("dialogs", dialogs) + " dialogs shown.</p>";

    // The snapshot's name is the caller's own text, already UTF-8.
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>JQInst2k.dll on " +
           escape(options.snapshotName) + "</title><style>" + Style + "</style></head><body><h1>What JQInst2k.dll does to " +
           escape(options.snapshotName) + "</h1>" + codePage.toUtf8(out) + "</body></html>\n";
}

}  // namespace preview
