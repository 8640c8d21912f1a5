#include "distinct_fixture.h"

#include <cstring>
#include <string>

namespace qv::test {

namespace {

constexpr std::uint32_t kSerial = 0xC0FFEE42;  // above 2^31: printed negative in the report

// Channel k (in record order, hall voltage first) and coefficient e of temperature sensor j.
float gain(int k) {
    return static_cast<float>(k) + 1.25f;
}
float offset(int k) {
    return -0.125f * static_cast<float>(k + 1);
}
float coeff(int j, int e) {
    return static_cast<float>(1000 * (j + 1) + 100 * (e + 1)) + 0.5f;
}

// Motor record i, field number k.
float motorF(std::size_t i, int k) {
    return static_cast<float>(100 * i + static_cast<std::size_t>(k)) + 0.5f;
}
std::uint16_t motorU(std::size_t i, int k) {
    return static_cast<std::uint16_t>(100 * i + static_cast<std::size_t>(k));
}
std::string motorText(std::size_t i) {
    return "Fixture motor " + std::to_string(i);
}

// Appends little-endian values one after the other.
class Layout {
  public:
    Layout& u16(std::uint16_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    Layout& u32(std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<std::uint8_t>(v >> shift));
        return *this;
    }
    Layout& f32(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return u32(bits);
    }
    Layout& text(const std::string& s, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            bytes.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
        return *this;
    }
    Bytes bytes;
};

// The file format's checksum, restated: the plain 16-bit sum of bytes 2 to end, at offset 0.
void sealRecord(Bytes& record) {
    std::uint16_t sum = 0;
    for (std::size_t i = 2; i < record.size(); ++i)
        sum = static_cast<std::uint16_t>(sum + record[i]);
    record[0] = static_cast<std::uint8_t>(sum);
    record[1] = static_cast<std::uint8_t>(sum >> 8);
}

}  // namespace

void fillDistinct(CConfigDataBank& s) {
    s.readOnly = {251, 7, 987654};

    PublicConfig& p = s.publicConfig;
    p.activeMotor = 7;
    p.sineCurrentLimit = 101.5f;
    p.speedLimit = 102.5f;
    p.busCurrentLimit = 103.5f;
    p.phaseCTempLimit = 104.5f;
    p.maxBusVoltage = 105.5f;
    p.minBusVoltage = 106.5f;
    p.tyreDiameter = 107.5f;
    p.canBaudIndex = 2;
    p.canBaseAddress = 0x2E0;
    p.driverControlsBaseAddress = 0x6A0;
    p.vehicleMass = 108.5f;
    p.sensorlessAccelRate = 109.5f;
    p.telemetryMask = 0x8BADF00D;
    p.sixStepCurrentLimit = 110.5f;
    p.bmsMasterCanId = 0x1A0;
    p.listenForBms = 1;

    PrivateConfig& c = s.privateConfig;
    c.serialNumber = kSerial;
    c.baseVoltage = 201.5f;
    c.baseCurrent = 202.5f;
    c.baseFrequency = 203.5f;
    c.busCapacitance = 1.234e-3f;
    c.busOverVoltage = 205.5f;
    CalibrationChannel* const channels[] = {&c.hallVoltage,   &c.rail15V,
                                            &c.rail1V9,       &c.rail3V3,
                                            &c.busVoltage,    &c.phaseCVoltage,
                                            &c.phaseBVoltage, &c.phaseAVoltage,
                                            &c.arcpRail,      &c.busCurrent,
                                            &c.phaseCCurrent, &c.phaseBCurrent,
                                            &c.phaseACurrent, &c.overCurrentSetPoint,
                                            &c.dspTemp,       &c.phaseCTemp,
                                            &c.capacitorTemp, &c.phaseBTemp,
                                            &c.phaseATemp};
    for (int k = 0; k < 19; ++k) *channels[k] = {gain(k), offset(k)};
    float* const sensors[] = {c.dspTempCoeff, c.phaseCTempCoeff, c.capacitorTempCoeff,
                              c.phaseBTempCoeff, c.phaseATempCoeff};
    for (int j = 0; j < 5; ++j)
        for (int e = 0; e < 4; ++e) sensors[j][e] = coeff(j, e);
    c.swOverCurrent = 206.5f;
    c.checkObserverAgainstHalls = 3;
    c.engageMotorSpeed = 207.5f;
    c.disengageMotorSpeed = 208.5f;
    c.controllerKpFactor = 2.375f;
    c.controllerKiFactor = 0.625f;

    for (std::size_t i = 0; i < kMotorCount; ++i) {
        MotorConfig& m = s.motor[i];
        m.polePairs = motorU(i, 0);
        m.lineResistance = motorF(i, 1);
        m.lineInductance = motorF(i, 2);
        m.speedConstant = motorF(i, 3);
        m.phaseSequenceReversed = motorU(i, 4);
        m.cutoutTemp = motorF(i, 5);
        m.rampTemp = motorF(i, 6);
        m.tempScale = motorF(i, 7);
        m.tempOffset = motorF(i, 8);
        m.thermistorRinf = motorF(i, 9);
        m.thermistorBeta = motorF(i, 10);
        m.tempCoeffC = motorF(i, 11);
        m.tempCoeffD = motorF(i, 12);
        std::memset(m.description, 0, kDescriptionSize);
        const std::string text = motorText(i);
        std::memcpy(m.description, text.data(), text.size());
        for (int e = 0; e < 8; ++e) {
            m.hallAngle[e] = motorF(i, 20 + e);
            m.hallPrevious[e] = motorU(i, 30 + e);
        }
        m.ignoreHallsSensorless = motorU(i, 40);
        m.engageFreq = motorF(i, 41);
        m.disengageFreq = motorF(i, 42);
        m.motorType = motorU(i, 43);
        m.rotorResistance = motorF(i, 44);
        m.rotorInductance = motorF(i, 45);
        m.minId = motorF(i, 46);
        m.maxId = motorF(i, 47);
        m.encoderCount = motorU(i, 48);
        m.encoderReversed = motorU(i, 49);
    }
    s.refreshChecksums(false);
}

Bytes laidOutPublic() {
    Layout w;
    w.u16(0).u16(7);
    for (float v : {101.5f, 102.5f, 103.5f, 104.5f, 105.5f, 106.5f, 107.5f}) w.f32(v);
    w.u32(2).u32(0x2E0).u32(0x6A0).f32(108.5f).f32(109.5f).u32(0x8BADF00D).f32(110.5f);
    w.u32(0x1A0).u16(1);
    sealRecord(w.bytes);
    return w.bytes;
}

Bytes laidOutPrivate() {
    Layout w;
    w.u16(0).u32(kSerial).f32(201.5f).f32(202.5f).f32(203.5f).f32(1.234e-3f).f32(205.5f);
    for (int k = 0; k < 19; ++k) w.f32(gain(k)).f32(offset(k));
    for (int j = 0; j < 5; ++j)
        for (int e = 0; e < 4; ++e) w.f32(coeff(j, e));
    w.f32(206.5f).u16(3).f32(207.5f).f32(208.5f).f32(2.375f).f32(0.625f);
    sealRecord(w.bytes);
    return w.bytes;
}

Bytes laidOutMotor(std::size_t i) {
    Layout w;
    w.u16(0).u16(motorU(i, 0)).f32(motorF(i, 1)).f32(motorF(i, 2)).f32(motorF(i, 3));
    w.u16(motorU(i, 4));
    for (int k = 5; k <= 12; ++k) w.f32(motorF(i, k));
    w.text(motorText(i), 20);
    for (int e = 0; e < 8; ++e) w.f32(motorF(i, 20 + e));
    for (int e = 0; e < 8; ++e) w.u16(motorU(i, 30 + e));
    w.u16(motorU(i, 40)).f32(motorF(i, 41)).f32(motorF(i, 42)).u16(motorU(i, 43));
    for (int k = 44; k <= 47; ++k) w.f32(motorF(i, k));
    w.u16(motorU(i, 48)).u16(motorU(i, 49));
    sealRecord(w.bytes);
    return w.bytes;
}

Bytes laidOutReadOnly() {
    return Layout().u16(251).u16(7).u32(987654).bytes;
}

std::size_t motorRecordOffset(const FileShape& shape, std::size_t index) {
    return 34 + std::size_t{shape.publicSize} + shape.privateSize + index * shape.motorSize;
}

Bytes handBuiltFile(const FileShape& shape) {
    Layout w;
    w.text("BRENLOW CONFIGURATION FILE", 26);
    w.u16(shape.version).u16(shape.publicSize).u16(shape.privateSize).u16(shape.motorSize);
    const auto append = [&](Bytes record, std::size_t size) {
        record.resize(size);
        sealRecord(record);
        w.bytes.insert(w.bytes.end(), record.begin(), record.end());
    };
    append(laidOutPublic(), shape.publicSize);
    append(laidOutPrivate(), shape.privateSize);
    for (std::size_t i = 0; i < kMotorCount; ++i) append(laidOutMotor(i), shape.motorSize);
    if (shape.trailerLength) {
        w.u16(*shape.trailerLength);
        Bytes trailer = laidOutReadOnly();
        trailer.resize(*shape.trailerLength, 0xEE);
        w.bytes.insert(w.bytes.end(), trailer.begin(), trailer.end());
    }
    return w.bytes;
}

}  // namespace qv::test
