#include "tools/commissioning_report.h"

#include <algorithm>
#include <cstdio>

#include "tools/pass_text.h"

namespace qv {

namespace {

constexpr const char* kStyle =
    "body{font-family:'DejaVu Sans',Verdana,sans-serif;margin:24px;max-width:980px;color:#111;"
    "font-size:15px}"
    "h1{font-size:24px;margin-bottom:4px}h2{font-size:19px;margin-top:28px;border-bottom:1px "
    "solid #999}"
    "table{border-collapse:collapse;margin:8px 0}"
    "th,td{border:1px solid #aaa;padding:3px 9px;text-align:left;vertical-align:top}"
    "th{background:#e8e8e8}"
    ".ok{background:#c8f0c8}.failed{background:#f4bcbc}.cancelled{background:#f8dca8}"
    ".skipped,.pending,.running{background:#eeeeee}"
    ".banner{padding:10px 14px;font-size:18px;font-weight:bold;border:1px solid #777}"
    "pre{background:#f4f4f4;border:1px solid #ccc;padding:6px;white-space:pre-wrap;"
    "font-size:13px}"
    "td pre{margin:0;border:none;padding:0;background:none}"
    "figure{display:inline-block;margin:8px 16px 8px 0}figcaption{font-size:13px;color:#333}"
    "img{border:1px solid #888}"
    "@media print{.banner{border:2px solid #000}}";

std::string timeText(const std::tm& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string cell(std::string_view text) {
    const std::string e = htmlEscape(text);
    if (text.find('\n') != std::string_view::npos) return "<td><pre>" + e + "</pre></td>";
    return "<td>" + e + "</td>";
}

std::string row(std::string_view name, std::string_view value) {
    return "<tr><th>" + htmlEscape(name) + "</th>" + cell(value) + "</tr>\n";
}

std::string outcomeCell(StepOutcome o) {
    const char* name = o == StepOutcome::Pending ? "not run" : outcomeName(o);
    return std::string("<td class=\"") + outcomeName(o) + "\">" + name + "</td>";
}

std::string stepSection(const StepRecord& s, int number) {
    std::string h = "<h2 id=\"" + std::string(passStepName(s.step)) + "\">" +
                    std::to_string(number) + ". " + htmlEscape(passStepTitle(s.step)) + "</h2>\n";
    h += "<table>\n<tr><th>Result</th>" + outcomeCell(s.outcome) + "</tr>\n";
    if (!s.summary.empty()) h += row("Summary", s.summary);
    if (s.attempts > 1) h += row("Attempts", std::to_string(s.attempts));
    for (const PassValue& v : s.values) h += row(v.name, v.value);
    if (!s.files.empty()) {
        std::string links;
        for (const std::string& f : s.files) {
            if (!links.empty()) links += ", ";
            links += "<a href=\"" + htmlEscape(f) + "\">" + htmlEscape(f) + "</a>";
        }
        h += "<tr><th>Files</th><td>" + links + "</td></tr>\n";
    }
    h += "</table>\n";
    for (const PassPlot& p : s.plots) {
        if (p.file.empty()) {
            h += "<p>Chart \"" + htmlEscape(p.title) + "\" not drawn: " + htmlEscape(p.problem) +
                 "</p>\n";
            continue;
        }
        h += "<figure><img src=\"" + htmlEscape(p.file) + "\" alt=\"" + htmlEscape(p.title) +
             "\"><figcaption>" + htmlEscape(p.title) + "</figcaption></figure>\n";
    }
    if (!s.text.empty()) {
        // A long log folds away (the raw files hold the data anyway).
        const auto lines = 1 + std::count(s.text.begin(), s.text.end(), '\n');
        if (lines > 15)
            h += "<details><summary>Log (" + std::to_string(lines) + " lines)</summary><pre>" +
                 htmlEscape(s.text) + "</pre></details>\n";
        else
            h += "<pre>" + htmlEscape(s.text) + "</pre>\n";
    }
    return h;
}

}  // namespace

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string reportHtml(const PassRecord& r) {
    const std::string device = baseAddressText(r.base) + " " + std::to_string(r.serial);
    std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += "<title>Commissioning report " + htmlEscape(device) + " motor " + std::to_string(r.motor) +
         "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    h += "<h1>Commissioning report</h1>\n";

    if (r.complete) {
        h += "<div class=\"banner ok\">Commissioned: motor record " + std::to_string(r.motor) +
             " written and verified</div>\n";
    } else if (r.stoppedAt) {
        h += "<div class=\"banner failed\">INCOMPLETE: stopped at " +
             htmlEscape(passStepTitle(*r.stoppedAt)) + ": " + htmlEscape(r.stopReason) + "</div>\n";
    } else {
        h += "<div class=\"banner pending\">INCOMPLETE: the pass is still running or was "
             "interrupted</div>\n";
    }

    h += "<table>\n";
    h += row("Controller", baseAddressText(r.base));
    h += row("Serial number", std::to_string(r.serial));
    h += row("Device type", hexText(r.deviceType, 4));
    h += row("Motor record",
             std::to_string(r.motor) + (r.description.empty() ? "" : " \"" + r.description + "\""));
    h += row("Motor type", r.motorType < 0 ? "not known" : motorTypeName(r.motorType));
    h += row("Started", timeText(r.started));
    h += row("Ended", r.ended ? timeText(*r.ended) : "not yet");
    h += row("Program", "qvconfig " + r.programVersion);
    h += row("Folder", r.folder);
    h += "</table>\n";

    h += "<h2>Steps</h2>\n<table>\n<tr><th>Step</th><th>Result</th><th>Summary</th></tr>\n";
    for (const StepRecord& s : r.steps)
        h += "<tr><td><a href=\"#" + std::string(passStepName(s.step)) + "\">" +
             htmlEscape(passStepTitle(s.step)) + "</a></td>" + outcomeCell(s.outcome) +
             cell(s.summary) + "</tr>\n";
    h += "</table>\n";

    int number = 1;
    for (const StepRecord& s : r.steps) {
        h += stepSection(s, number++);
        if (s.step != PassStep::Review) continue;
        h += "<h3>Field changes</h3>\n";
        if (r.changes.empty()) {
            h += "<p>" +
                 std::string(s.outcome == StepOutcome::Succeeded ? "No field changes."
                                                                 : "Not reviewed.") +
                 "</p>\n";
            continue;
        }
        h += "<table>\n<tr><th>Record</th><th>Field</th><th>Before</th><th>After</th></tr>\n";
        for (const FieldDifference& d : r.changes)
            h += "<tr>" + cell(d.record) + cell(d.field) + cell(d.a) + cell(d.b) + "</tr>\n";
        h += "</table>\n";
    }
    h += "</body>\n</html>\n";
    return h;
}

}  // namespace qv
