#include "ui/panel_layout.h"

#include <QString>
#include <algorithm>
#include <cstring>

namespace qv::ui {

namespace {

// Every caption a row can show, whatever the device type and mode.
constexpr const char* kCaptionTexts[] = {"Active Motor",
                                         "CAN Err Cnt (T/R)",
                                         "Errors",
                                         "Limiting Setpoint",
                                         "Bus Volt/Curr",
                                         "Bus Volt/Grid OK",
                                         "BusV/phA Irms",
                                         "Controller Power",
                                         "Grid Frequency",
                                         "RMS Current C/B",
                                         "Out Curr (DC)",
                                         "phC/phB (Irms)",
                                         "Motor BEMF (d/q)",
                                         "Grid Voltage (rms)",
                                         "GT PhA (V)",
                                         "Out Voltage (d/q)",
                                         "Out Volt(cap/out)",
                                         "Grid Voltage (d/q)",
                                         "GT PhB/C (V)",
                                         "Out Current (d/q)",
                                         "NoLoad err/Duty",
                                         "Grid Current (d/q)",
                                         "Slip Speed",
                                         "15V Rail",
                                         "1.9V / 3.3V Rails",
                                         "Motor Temp",
                                         "C / B Temp",
                                         "DSP / A Temp",
                                         "Odo / Bus Ah",
                                         "Veh kWh",
                                         "Grid kWh"};

// Widest numbers with their units that the cells are sized for.
constexpr const char* kValueSamples[] = {"-88888 rpm",
                                         "-8888.88 kph",
                                         "-8888.88 V",
                                         "-8888.88 Hz",
                                         "-888888 W",
                                         "-8888.8 \xC2\xB0"
                                         "C",
                                         "-88888.88 km",
                                         "-8888.88 Ah",
                                         "FALSE"};

struct Section {
    const char* firstCaption;
    const char* title;
};
constexpr Section kSections[] = {
    {"Active Motor", "Status"},   {"Bus Volt/Curr", "Bus"},       {"Velocity", "Output"},
    {"15V Rail", "Supply rails"}, {"Motor Temp", "Temperatures"}, {"Odo / Bus Ah", "Totals"},
};

}  // namespace

PanelMetrics panelMetrics(const QFontMetrics& fm) {
    int caption = 0;
    for (const char* t : kCaptionTexts) caption = std::max(caption, fm.horizontalAdvance(t));
    int value = 0;
    for (const char* t : kValueSamples)
        value = std::max(value, fm.horizontalAdvance(QString::fromUtf8(t)));
    return {caption + 12, value + 14, fm.height() + 6};
}

const char* sectionBefore(const PanelRow& row) {
    for (const Section& s : kSections)
        if (std::strcmp(row.fixedCaption, s.firstCaption) == 0) return s.title;
    return nullptr;
}

bool isTextCell(int cellId) {
    return cellId == 1177 || cellId == 1003 || cellId == 1004;
}

int hiddenCellBeside(const PanelRow& row) {
    if (row.leftCell == 1011) return 1199;
    if (row.rightCell == 1031) return 1200;
    return 0;
}

}  // namespace qv::ui
