#pragma once
// The configuration records of a controller. Their byte layout is the layout on the CAN stream
// and in ".cfg" files: little-endian, packed, every record starting with its 16-bit checksum.
// Offsets and sizes are pinned below; any change to these structures breaks the format.
// The structures are packed, so a field may sit misaligned: read and assign fields by value,
// never bind them to references or pointers (std::min, std::swap, EXPECT_EQ and the like).
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

static_assert(std::endian::native == std::endian::little,
              "the records are stored in native byte order and must match the little-endian wire");
static_assert(sizeof(float) == 4, "float32 fields");

enum class StructureKind : std::uint16_t { Public = 0, Private = 1, Motor = 2 };

inline constexpr std::size_t kMotorCount = 10;
inline constexpr std::uint16_t kConfigVersion = 200;  // version times 100
inline constexpr std::string_view kConfigHeader = "BRENLOW CONFIGURATION FILE";

#pragma pack(push, 1)

struct ReadOnlyConfigInfo {
    std::uint16_t firmwareVersion;  // times 100
    std::uint16_t dspHardwareVersion;
    std::uint32_t firmwareBuild;
};

struct PublicConfig {
    std::uint16_t checksum;
    std::uint16_t activeMotor;
    float sineCurrentLimit;
    float speedLimit;
    float busCurrentLimit;
    float phaseCTempLimit;
    float maxBusVoltage;
    float minBusVoltage;
    float tyreDiameter;
    std::uint32_t canBaudIndex;
    std::uint32_t canBaseAddress;
    std::uint32_t driverControlsBaseAddress;
    float vehicleMass;
    float sensorlessAccelRate;
    std::uint32_t telemetryMask;
    float sixStepCurrentLimit;
    std::uint32_t bmsMasterCanId;
    std::uint16_t listenForBms;
};

// A calibrated measurement: value = raw * gain + offset.
struct CalibrationChannel {
    float gain;
    float offset;
};

struct PrivateConfig {
    std::uint16_t checksum;
    std::uint32_t serialNumber;
    float baseVoltage;
    float baseCurrent;
    float baseFrequency;
    float busCapacitance;
    float busOverVoltage;
    CalibrationChannel hallVoltage;
    CalibrationChannel rail15V;
    CalibrationChannel rail1V9;
    CalibrationChannel rail3V3;
    CalibrationChannel busVoltage;
    CalibrationChannel phaseCVoltage;  // isolated charger: output voltage
    CalibrationChannel phaseBVoltage;  // isolated charger: snubber voltage
    CalibrationChannel phaseAVoltage;
    CalibrationChannel arcpRail;
    CalibrationChannel busCurrent;  // isolated charger: output current
    CalibrationChannel phaseCCurrent;
    CalibrationChannel phaseBCurrent;
    CalibrationChannel phaseACurrent;
    CalibrationChannel overCurrentSetPoint;
    CalibrationChannel dspTemp;
    CalibrationChannel phaseCTemp;
    CalibrationChannel capacitorTemp;
    CalibrationChannel phaseBTemp;
    CalibrationChannel phaseATemp;
    float dspTempCoeff[4];
    float phaseCTempCoeff[4];
    float capacitorTempCoeff[4];
    float phaseBTempCoeff[4];
    float phaseATempCoeff[4];
    float swOverCurrent;
    std::uint16_t checkObserverAgainstHalls;
    float engageMotorSpeed;
    float disengageMotorSpeed;
    float controllerKpFactor;
    float controllerKiFactor;
};

inline constexpr std::size_t kDescriptionSize = 20;

struct MotorConfig {
    std::uint16_t checksum;
    std::uint16_t polePairs;
    float lineResistance;
    float lineInductance;
    float speedConstant;
    std::uint16_t phaseSequenceReversed;
    float cutoutTemp;
    float rampTemp;
    float tempScale;
    float tempOffset;
    float thermistorRinf;
    float thermistorBeta;
    float tempCoeffC;                    // kept and transferred, never edited
    float tempCoeffD;                    // kept and transferred, never edited
    char description[kDescriptionSize];  // NUL-terminated when well formed; see descriptionText
    float hallAngle[8];
    std::uint16_t hallPrevious[8];
    std::uint16_t ignoreHallsSensorless;
    float engageFreq;
    float disengageFreq;
    std::uint16_t motorType;
    float rotorResistance;
    float rotorInductance;
    float minId;
    float maxId;
    std::uint16_t encoderCount;
    std::uint16_t encoderReversed;
};

#pragma pack(pop)

inline constexpr std::size_t kReadOnlySize = 8;
inline constexpr std::size_t kPublicSize = 66;
inline constexpr std::size_t kPrivateSize = 280;
inline constexpr std::size_t kMotorSize = 150;

static_assert(sizeof(ReadOnlyConfigInfo) == kReadOnlySize);
static_assert(sizeof(PublicConfig) == kPublicSize);
static_assert(sizeof(CalibrationChannel) == 8);
static_assert(sizeof(PrivateConfig) == kPrivateSize);
static_assert(sizeof(MotorConfig) == kMotorSize);

#define QV_PIN(T, field, off, size)                     \
    static_assert(offsetof(T, field) == (off), #field); \
    static_assert(sizeof(T::field) == (size), #field)

QV_PIN(ReadOnlyConfigInfo, firmwareVersion, 0, 2);
QV_PIN(ReadOnlyConfigInfo, dspHardwareVersion, 2, 2);
QV_PIN(ReadOnlyConfigInfo, firmwareBuild, 4, 4);

QV_PIN(PublicConfig, checksum, 0, 2);
QV_PIN(PublicConfig, activeMotor, 2, 2);
QV_PIN(PublicConfig, sineCurrentLimit, 4, 4);
QV_PIN(PublicConfig, speedLimit, 8, 4);
QV_PIN(PublicConfig, busCurrentLimit, 12, 4);
QV_PIN(PublicConfig, phaseCTempLimit, 16, 4);
QV_PIN(PublicConfig, maxBusVoltage, 20, 4);
QV_PIN(PublicConfig, minBusVoltage, 24, 4);
QV_PIN(PublicConfig, tyreDiameter, 28, 4);
QV_PIN(PublicConfig, canBaudIndex, 32, 4);
QV_PIN(PublicConfig, canBaseAddress, 36, 4);
QV_PIN(PublicConfig, driverControlsBaseAddress, 40, 4);
QV_PIN(PublicConfig, vehicleMass, 44, 4);
QV_PIN(PublicConfig, sensorlessAccelRate, 48, 4);
QV_PIN(PublicConfig, telemetryMask, 52, 4);
QV_PIN(PublicConfig, sixStepCurrentLimit, 56, 4);
QV_PIN(PublicConfig, bmsMasterCanId, 60, 4);
QV_PIN(PublicConfig, listenForBms, 64, 2);

QV_PIN(CalibrationChannel, gain, 0, 4);
QV_PIN(CalibrationChannel, offset, 4, 4);

QV_PIN(PrivateConfig, checksum, 0, 2);
QV_PIN(PrivateConfig, serialNumber, 2, 4);
QV_PIN(PrivateConfig, baseVoltage, 6, 4);
QV_PIN(PrivateConfig, baseCurrent, 10, 4);
QV_PIN(PrivateConfig, baseFrequency, 14, 4);
QV_PIN(PrivateConfig, busCapacitance, 18, 4);
QV_PIN(PrivateConfig, busOverVoltage, 22, 4);
QV_PIN(PrivateConfig, hallVoltage, 26, 8);
QV_PIN(PrivateConfig, rail15V, 34, 8);
QV_PIN(PrivateConfig, rail1V9, 42, 8);
QV_PIN(PrivateConfig, rail3V3, 50, 8);
QV_PIN(PrivateConfig, busVoltage, 58, 8);
QV_PIN(PrivateConfig, phaseCVoltage, 66, 8);
QV_PIN(PrivateConfig, phaseBVoltage, 74, 8);
QV_PIN(PrivateConfig, phaseAVoltage, 82, 8);
QV_PIN(PrivateConfig, arcpRail, 90, 8);
QV_PIN(PrivateConfig, busCurrent, 98, 8);
QV_PIN(PrivateConfig, phaseCCurrent, 106, 8);
QV_PIN(PrivateConfig, phaseBCurrent, 114, 8);
QV_PIN(PrivateConfig, phaseACurrent, 122, 8);
QV_PIN(PrivateConfig, overCurrentSetPoint, 130, 8);
QV_PIN(PrivateConfig, dspTemp, 138, 8);
QV_PIN(PrivateConfig, phaseCTemp, 146, 8);
QV_PIN(PrivateConfig, capacitorTemp, 154, 8);
QV_PIN(PrivateConfig, phaseBTemp, 162, 8);
QV_PIN(PrivateConfig, phaseATemp, 170, 8);
QV_PIN(PrivateConfig, dspTempCoeff, 178, 16);
QV_PIN(PrivateConfig, phaseCTempCoeff, 194, 16);
QV_PIN(PrivateConfig, capacitorTempCoeff, 210, 16);
QV_PIN(PrivateConfig, phaseBTempCoeff, 226, 16);
QV_PIN(PrivateConfig, phaseATempCoeff, 242, 16);
QV_PIN(PrivateConfig, swOverCurrent, 258, 4);
QV_PIN(PrivateConfig, checkObserverAgainstHalls, 262, 2);
QV_PIN(PrivateConfig, engageMotorSpeed, 264, 4);
QV_PIN(PrivateConfig, disengageMotorSpeed, 268, 4);
QV_PIN(PrivateConfig, controllerKpFactor, 272, 4);
QV_PIN(PrivateConfig, controllerKiFactor, 276, 4);

QV_PIN(MotorConfig, checksum, 0, 2);
QV_PIN(MotorConfig, polePairs, 2, 2);
QV_PIN(MotorConfig, lineResistance, 4, 4);
QV_PIN(MotorConfig, lineInductance, 8, 4);
QV_PIN(MotorConfig, speedConstant, 12, 4);
QV_PIN(MotorConfig, phaseSequenceReversed, 16, 2);
QV_PIN(MotorConfig, cutoutTemp, 18, 4);
QV_PIN(MotorConfig, rampTemp, 22, 4);
QV_PIN(MotorConfig, tempScale, 26, 4);
QV_PIN(MotorConfig, tempOffset, 30, 4);
QV_PIN(MotorConfig, thermistorRinf, 34, 4);
QV_PIN(MotorConfig, thermistorBeta, 38, 4);
QV_PIN(MotorConfig, tempCoeffC, 42, 4);
QV_PIN(MotorConfig, tempCoeffD, 46, 4);
QV_PIN(MotorConfig, description, 50, 20);
QV_PIN(MotorConfig, hallAngle, 70, 32);
QV_PIN(MotorConfig, hallPrevious, 102, 16);
QV_PIN(MotorConfig, ignoreHallsSensorless, 118, 2);
QV_PIN(MotorConfig, engageFreq, 120, 4);
QV_PIN(MotorConfig, disengageFreq, 124, 4);
QV_PIN(MotorConfig, motorType, 128, 2);
QV_PIN(MotorConfig, rotorResistance, 130, 4);
QV_PIN(MotorConfig, rotorInductance, 134, 4);
QV_PIN(MotorConfig, minId, 138, 4);
QV_PIN(MotorConfig, maxId, 142, 4);
QV_PIN(MotorConfig, encoderCount, 146, 2);
QV_PIN(MotorConfig, encoderReversed, 148, 2);

#undef QV_PIN

// Known record size of a structure kind.
constexpr std::size_t knownSize(StructureKind kind) {
    switch (kind) {
        case StructureKind::Public:
            return kPublicSize;
        case StructureKind::Private:
            return kPrivateSize;
        case StructureKind::Motor:
            return kMotorSize;
    }
    return 0;
}

// Records of a kind in one stream or file: one public, one private, ten motor records.
constexpr std::size_t recordCount(StructureKind kind) {
    return kind == StructureKind::Motor ? kMotorCount : 1;
}

}  // namespace qv
