#include "tools/host_emulator/pages_html.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "settings/option_pages.h"

namespace emulator {
namespace {

using namespace plumeta;  // the element kinds

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

struct Split {
    std::string caption, hint;
};
Split Caption(const std::string& text) {
    const std::size_t separator = text.find('\x01');
    if (separator == std::string::npos) return {text, ""};
    return {text.substr(0, separator), text.substr(separator + 1)};
}

std::string Control(const PageElement& e) {
    const Split split = Caption(e.text);
    const std::string title = split.hint.empty() ? "" : " title=\"" + Escape(split.hint) + "\"";
    const std::string hintMark = split.hint.empty() ? "" : " <span class=hint>?</span>";
    switch (e.kind) {
        case kCheckBox: {
            const bool on = std::strtol(e.value.c_str(), nullptr, 10) != 0;
            return "<label class=row" + title + "><input type=checkbox onclick=\"return false\"" +
                   (on ? " checked" : "") + "> " + Escape(split.caption) + hintMark + "</label>\n";
        }
        case kTextField:
            return "<label class=row" + title + ">" + Escape(split.caption) +
                   " <input type=text readonly value=\"" + Escape(e.value) + "\">" + hintMark +
                   "</label>\n";
        case kLabel:
            return "<div class=label>" + Escape(e.text) + "</div>\n";
        case kInfoText:
            return std::string("<p class=info>") + (e.param ? "<span class=icon></span>" : "") +
                   Escape(e.text) + "</p>\n";
        default:
            return "<div class=unknown>element kind " + std::to_string(e.kind) + "</div>\n";
    }
}

const char kStyle[] =
    "body{font:13px Tahoma,Verdana,sans-serif;background:#d4d0c8;margin:16px}"
    ".page{background:#fff;border:1px solid #808080;width:460px;padding:10px;margin:0 16px 16px 0;"
    "display:inline-block;vertical-align:top}"
    "h2{font-size:15px;margin:0 0 8px}h2 small{color:#666;font-weight:normal}"
    "fieldset{margin:0 0 8px;border:1px solid #aaa}legend{font-weight:bold}"
    ".row{display:block;margin:4px 0}.row input[type=text]{width:220px}"
    ".label{color:#333;margin:0 0 6px 4px;font-size:12px}.info{margin:4px 0}"
    ".hint{color:#06c;cursor:help;font-weight:bold}"
    ".icon{display:inline-block;width:16px;height:16px;margin-right:6px;vertical-align:middle;"
    "background:linear-gradient(135deg,#00f 60%,#ff0 60%)}";

}  // namespace

bool WritePagesFile(const std::string& path, const std::vector<PageElement>& elements) {
    // Pages in the order they arrived; each element goes to its page, into
    // the group open there at that moment.
    std::vector<uint32_t> pages;
    std::map<uint32_t, std::string> titles, bodies;
    std::map<uint32_t, uint32_t> nodes;
    std::map<uint32_t, bool> open;
    for (const PageElement& e : elements) {
        if (e.kind & kPage) {
            pages.push_back(e.id);
            titles[e.id] = e.text;
            nodes[e.id] = e.parent;
            continue;
        }
        if (!titles.count(e.parent)) continue;  // the all-zero element and strays
        std::string& body = bodies[e.parent];
        if (e.kind == kGroupStart) {
            if (open[e.parent]) body += "</fieldset>\n";
            body += "<fieldset><legend>" + Escape(e.text) + "</legend>\n";
            open[e.parent] = true;
        } else if (e.kind == kGroupEnd) {
            if (open[e.parent]) body += "</fieldset>\n";
            open[e.parent] = false;
        } else {
            body += Control(e);
        }
    }
    std::string html = "<!doctype html>\n<html lang=pl><head><meta charset=utf-8>"
                       "<title>Option pages</title><style>";
    html += kStyle;
    html += "</style></head><body>\n";
    for (uint32_t page : pages) {
        html += "<section class=page><h2><span class=icon></span>" + Escape(titles[page]) +
                " <small>page " + std::to_string(page) + " under node " +
                std::to_string(nodes[page]) + "</small></h2>\n" + bodies[page];
        if (open[page]) html += "</fieldset>\n";
        html += "</section>\n";
    }
    html += "</body></html>\n";

    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << html;
        if (!out.flush()) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (!error) return true;
    std::filesystem::remove(temporary, error);
    return false;
}

}  // namespace emulator
