#include "config/config_dump.h"

#include <cstdio>
#include <cstring>

namespace qv {

namespace {

#define QV_F(T, field, type, ...)                                              \
    FieldInfo {                                                                \
#field, offsetof(T, field), FieldType::type __VA_OPT__(, ) __VA_ARGS__ \
    }

// clang-format off
const FieldInfo kReadOnly[] = {
    QV_F(ReadOnlyConfigInfo, firmwareVersion, U16),
    QV_F(ReadOnlyConfigInfo, dspHardwareVersion, U16),
    QV_F(ReadOnlyConfigInfo, firmwareBuild, U32),
};

const FieldInfo kPublic[] = {
    QV_F(PublicConfig, checksum, Hex16, 1, 4),
    QV_F(PublicConfig, activeMotor, U16),
    QV_F(PublicConfig, sineCurrentLimit, F32),
    QV_F(PublicConfig, speedLimit, F32),
    QV_F(PublicConfig, busCurrentLimit, F32),
    QV_F(PublicConfig, phaseCTempLimit, F32),
    QV_F(PublicConfig, maxBusVoltage, F32),
    QV_F(PublicConfig, minBusVoltage, F32),
    QV_F(PublicConfig, tyreDiameter, F32),
    QV_F(PublicConfig, canBaudIndex, U32),
    QV_F(PublicConfig, canBaseAddress, Hex32, 1, 3),
    QV_F(PublicConfig, driverControlsBaseAddress, Hex32, 1, 3),
    QV_F(PublicConfig, vehicleMass, F32),
    QV_F(PublicConfig, sensorlessAccelRate, F32),
    QV_F(PublicConfig, telemetryMask, Hex32, 1, 8),
    QV_F(PublicConfig, sixStepCurrentLimit, F32),
    QV_F(PublicConfig, bmsMasterCanId, Hex32, 1, 3),
    QV_F(PublicConfig, listenForBms, U16),
};

const FieldInfo kPrivate[] = {
    QV_F(PrivateConfig, checksum, Hex16, 1, 4),
    QV_F(PrivateConfig, serialNumber, U32),
    QV_F(PrivateConfig, baseVoltage, F32),
    QV_F(PrivateConfig, baseCurrent, F32),
    QV_F(PrivateConfig, baseFrequency, F32),
    QV_F(PrivateConfig, busCapacitance, F32),
    QV_F(PrivateConfig, busOverVoltage, F32),
    QV_F(PrivateConfig, hallVoltage, Channel),
    QV_F(PrivateConfig, rail15V, Channel),
    QV_F(PrivateConfig, rail1V9, Channel),
    QV_F(PrivateConfig, rail3V3, Channel),
    QV_F(PrivateConfig, busVoltage, Channel),
    QV_F(PrivateConfig, phaseCVoltage, Channel),
    QV_F(PrivateConfig, phaseBVoltage, Channel),
    QV_F(PrivateConfig, phaseAVoltage, Channel),
    QV_F(PrivateConfig, arcpRail, Channel),
    QV_F(PrivateConfig, busCurrent, Channel),
    QV_F(PrivateConfig, phaseCCurrent, Channel),
    QV_F(PrivateConfig, phaseBCurrent, Channel),
    QV_F(PrivateConfig, phaseACurrent, Channel),
    QV_F(PrivateConfig, overCurrentSetPoint, Channel),
    QV_F(PrivateConfig, dspTemp, Channel),
    QV_F(PrivateConfig, phaseCTemp, Channel),
    QV_F(PrivateConfig, capacitorTemp, Channel),
    QV_F(PrivateConfig, phaseBTemp, Channel),
    QV_F(PrivateConfig, phaseATemp, Channel),
    QV_F(PrivateConfig, dspTempCoeff, F32, 4),
    QV_F(PrivateConfig, phaseCTempCoeff, F32, 4),
    QV_F(PrivateConfig, capacitorTempCoeff, F32, 4),
    QV_F(PrivateConfig, phaseBTempCoeff, F32, 4),
    QV_F(PrivateConfig, phaseATempCoeff, F32, 4),
    QV_F(PrivateConfig, swOverCurrent, F32),
    QV_F(PrivateConfig, checkObserverAgainstHalls, U16),
    QV_F(PrivateConfig, engageMotorSpeed, F32),
    QV_F(PrivateConfig, disengageMotorSpeed, F32),
    QV_F(PrivateConfig, controllerKpFactor, F32),
    QV_F(PrivateConfig, controllerKiFactor, F32),
};

const FieldInfo kMotor[] = {
    QV_F(MotorConfig, checksum, Hex16, 1, 4),
    QV_F(MotorConfig, polePairs, U16),
    QV_F(MotorConfig, lineResistance, F32),
    QV_F(MotorConfig, lineInductance, F32),
    QV_F(MotorConfig, speedConstant, F32),
    QV_F(MotorConfig, phaseSequenceReversed, U16),
    QV_F(MotorConfig, cutoutTemp, F32),
    QV_F(MotorConfig, rampTemp, F32),
    QV_F(MotorConfig, tempScale, F32),
    QV_F(MotorConfig, tempOffset, F32),
    QV_F(MotorConfig, thermistorRinf, F32),
    QV_F(MotorConfig, thermistorBeta, F32),
    QV_F(MotorConfig, tempCoeffC, F32),
    QV_F(MotorConfig, tempCoeffD, F32),
    QV_F(MotorConfig, description, Text),
    QV_F(MotorConfig, hallAngle, F32, 8),
    QV_F(MotorConfig, hallPrevious, U16, 8),
    QV_F(MotorConfig, ignoreHallsSensorless, U16),
    QV_F(MotorConfig, engageFreq, F32),
    QV_F(MotorConfig, disengageFreq, F32),
    QV_F(MotorConfig, motorType, U16),
    QV_F(MotorConfig, rotorResistance, F32),
    QV_F(MotorConfig, rotorInductance, F32),
    QV_F(MotorConfig, minId, F32),
    QV_F(MotorConfig, maxId, F32),
    QV_F(MotorConfig, encoderCount, U16),
    QV_F(MotorConfig, encoderReversed, U16),
};
// clang-format on

#undef QV_F

template <typename T>
T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Marks a value that did not come from the file (the record or trailer there was shorter).
constexpr const char* kNotInFile = " (not in file)";

void line(std::string& out, const std::string& name, const std::string& value, bool inFile) {
    out += name;
    out += " = ";
    out += value;
    if (!inFile) out += kNotInFile;
    out += '\n';
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    return out + "\"";
}

std::string formatValue(FieldType type, int hexDigits, const std::uint8_t* p) {
    char v[64];
    switch (type) {
        case FieldType::U16:
            std::snprintf(v, sizeof v, "%u", unsigned{load<std::uint16_t>(p)});
            break;
        case FieldType::U32:
            std::snprintf(v, sizeof v, "%lu", static_cast<unsigned long>(load<std::uint32_t>(p)));
            break;
        case FieldType::F32:
            std::snprintf(v, sizeof v, "%.9g", static_cast<double>(load<float>(p)));
            break;
        case FieldType::Hex16:
            std::snprintf(v, sizeof v, "0x%0*X", hexDigits, unsigned{load<std::uint16_t>(p)});
            break;
        case FieldType::Hex32:
            std::snprintf(v, sizeof v, "0x%0*lX", hexDigits,
                          static_cast<unsigned long>(load<std::uint32_t>(p)));
            break;
        case FieldType::Channel:
        case FieldType::Text:
            return {};  // listed by the caller in parts
    }
    return v;
}

// Lists one record; `inFile` is how many of its leading bytes the file carried. A value whose
// bytes reach beyond that is marked.
void dumpRecord(std::string& out, const std::string& prefix, std::span<const FieldInfo> fields,
                std::span<const std::uint8_t> bytes, std::size_t inFile) {
    const auto carried = [&](std::size_t offset, std::size_t size) {
        return offset + size <= inFile;
    };
    for (const FieldInfo& f : fields) {
        const std::string name = prefix + "." + f.name;
        if (f.type == FieldType::Text) {
            MotorConfig m;
            std::memcpy(&m, bytes.data(), sizeof m);
            line(out, name, quoted(descriptionText(m)), carried(f.offset, fieldSize(f)));
            continue;
        }
        const std::size_t element = fieldSize(f) / f.count;
        for (std::size_t i = 0; i < f.count; ++i) {
            const std::string elementName =
                f.count > 1 ? name + "[" + std::to_string(i) + "]" : name;
            const std::size_t at = f.offset + i * element;
            if (f.type == FieldType::Channel) {
                line(out, elementName + ".gain", formatValue(FieldType::F32, 0, bytes.data() + at),
                     carried(at, 4));
                line(out, elementName + ".offset",
                     formatValue(FieldType::F32, 0, bytes.data() + at + 4), carried(at + 4, 4));
                continue;
            }
            line(out, elementName, formatValue(f.type, f.hexDigits, bytes.data() + at),
                 carried(at, element));
        }
    }
}

}  // namespace

std::span<const FieldInfo> recordFields(StructureKind kind) {
    switch (kind) {
        case StructureKind::Public:
            return kPublic;
        case StructureKind::Private:
            return kPrivate;
        case StructureKind::Motor:
            return kMotor;
    }
    return {};
}

std::span<const FieldInfo> readOnlyFields() {
    return kReadOnly;
}

std::size_t fieldSize(const FieldInfo& field) {
    switch (field.type) {
        case FieldType::U16:
        case FieldType::Hex16:
            return 2 * field.count;
        case FieldType::U32:
        case FieldType::F32:
        case FieldType::Hex32:
            return 4 * field.count;
        case FieldType::Channel:
            return 8 * field.count;
        case FieldType::Text:
            return kDescriptionSize;
    }
    return 0;
}

std::string dumpConfig(const CConfigDataBank& store, const ConfigFileInfo& header) {
    std::string out;
    dumpRecord(out, "public", kPublic, store.recordBytes(StructureKind::Public), header.publicSize);
    dumpRecord(out, "private", kPrivate, store.recordBytes(StructureKind::Private),
               header.privateSize);
    for (std::size_t i = 0; i < kMotorCount; ++i)
        dumpRecord(out, "motor[" + std::to_string(i) + "]", kMotor,
                   store.recordBytes(StructureKind::Motor, i), header.motorSize);
    dumpRecord(out, "readOnly", kReadOnly,
               {reinterpret_cast<const std::uint8_t*>(&store.readOnly), kReadOnlySize},
               header.trailerLength.value_or(0));

    const auto number = [](unsigned v) { return std::to_string(v); };
    line(out, "file.version", number(header.version), true);
    line(out, "file.olderVersion", isOlderVersion(header.version) ? "yes" : "no", true);
    line(out, "file.publicSize", number(header.publicSize), true);
    line(out, "file.privateSize", number(header.privateSize), true);
    line(out, "file.motorSize", number(header.motorSize), true);
    line(out, "file.trailerLength",
         header.trailerLength ? number(*header.trailerLength) : std::string("none"), true);
    return out;
}

}  // namespace qv
