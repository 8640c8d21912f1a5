#pragma once
// How the main window lays out the telemetry panel: sections, which cells hold words rather
// than numbers, and column widths that fit the longest text a cell or caption can show.
#include <QFontMetrics>

#include "monitor/telemetry_panel.h"

namespace qv::ui {

struct PanelMetrics {
    int captionWidth;
    int valueWidth;
    int rowHeight;
};

PanelMetrics panelMetrics(const QFontMetrics& fm);

// The section title shown above `row`, or nullptr.
const char* sectionBefore(const PanelRow& row);
// Cells that show names (active motor, errors, limits) and span both value columns.
bool isTextCell(int cellId);
// The hidden cell that sits beside the row's cells (1199, 1200), or 0.
int hiddenCellBeside(const PanelRow& row);

}  // namespace qv::ui
