#include "config/config_data_bank.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace qv {

std::uint16_t computeChecksum(std::span<const std::uint8_t> record,
                              std::span<const std::uint8_t> extra) {
    std::uint16_t sum = 0;
    for (std::size_t i = 2; i < record.size(); ++i)
        sum = static_cast<std::uint16_t>(sum + record[i]);
    for (std::uint8_t b : extra) sum = static_cast<std::uint16_t>(sum + b);
    return sum;
}

bool checksumMatches(std::span<const std::uint8_t> record) {
    if (record.size() < 2) return false;
    const auto stored = static_cast<std::uint16_t>(record[0] | (record[1] << 8));
    return stored == computeChecksum(record);
}

std::string descriptionText(const MotorConfig& motor) {
    const char* d = motor.description;
    const std::size_t limit = kDescriptionSize - 1;
    std::size_t n = 0;
    while (n < limit && d[n] != '\0') ++n;
    return std::string(d, n);
}

void setDescription(MotorConfig& motor, std::string_view text) {
    const std::size_t n = std::min(text.size(), kDescriptionSize - 1);
    std::memcpy(motor.description, text.data(), n);
    motor.description[n] = '\0';
}

std::string formatVersion(std::uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%0.2f", version / 100.0);
    return text;
}

namespace {

template <typename T>
std::span<std::uint8_t> bytesOf(T& record) {
    return {reinterpret_cast<std::uint8_t*>(&record), sizeof(T)};
}

template <typename T>
void storeChecksum(T& record) {
    record.checksum = computeChecksum(bytesOf(record));
}

}  // namespace

PublicConfig defaultPublicConfig() {
    PublicConfig p{};
    p.activeMotor = 0;
    p.sineCurrentLimit = 100.0f;
    p.speedLimit = 5000.0f;
    p.busCurrentLimit = 100.0f;
    p.phaseCTempLimit = 90.0f;
    p.maxBusVoltage = 160.0f;
    p.minBusVoltage = 10.0f;
    p.tyreDiameter = 0.5f;
    p.canBaudIndex = 4;
    p.canBaseAddress = 0x400;
    p.driverControlsBaseAddress = 0x500;
    p.vehicleMass = 300.0f;
    p.sensorlessAccelRate = 0.0f;
    p.telemetryMask = 0xFFFFFFFFu;
    p.sixStepCurrentLimit = 100.0f;
    p.bmsMasterCanId = 0x260;
    p.listenForBms = 0;
    storeChecksum(p);
    return p;
}

PrivateConfig defaultPrivateConfig() {
    constexpr float kHallGain = 1.0257272f;
    constexpr float kCurrentGain = 1.7625f;
    constexpr float kTempGain = 0.90909094f;
    PrivateConfig c{};
    c.serialNumber = 0;
    c.baseVoltage = 1000.0f;
    c.baseCurrent = 600.0f;
    c.baseFrequency = 500.0f;
    c.busCapacitance = 0.0008f;
    c.busOverVoltage = 600.0f;
    c.hallVoltage = {kHallGain, 0.0f};
    c.rail15V = {2.2f, 0.0f};
    c.rail1V9 = {0.2f, 0.0f};
    c.rail3V3 = {0.4f, 0.0f};
    c.busVoltage = {kHallGain, 0.0f};
    c.phaseCVoltage = {kHallGain, 0.0f};
    c.phaseBVoltage = {kHallGain, 0.0f};
    c.phaseAVoltage = {kHallGain, 0.0f};
    c.arcpRail = {3.0f, 0.0f};
    c.busCurrent = {kCurrentGain, 0.0f};
    c.phaseCCurrent = {kCurrentGain, 0.0f};
    c.phaseBCurrent = {kCurrentGain, 0.0f};
    c.phaseACurrent = {kCurrentGain, 0.0f};
    c.overCurrentSetPoint = {1.0f, 0.0f};
    c.dspTemp = {kTempGain, 0.0f};
    c.phaseCTemp = {kTempGain, 0.0f};
    c.capacitorTemp = {kTempGain, 0.0f};
    c.phaseBTemp = {kTempGain, 0.0f};
    c.phaseATemp = {kTempGain, 0.0f};
    const float dsp[4] = {0.07623f, 4200.0f, 0.0f, 0.0f};
    const float phase[4] = {0.0054026898f, 4096.0f, 0.0f, 0.0f};
    for (int i = 0; i < 4; ++i) {
        c.dspTempCoeff[i] = dsp[i];
        c.phaseCTempCoeff[i] = phase[i];
        c.capacitorTempCoeff[i] = dsp[i];
        c.phaseBTempCoeff[i] = phase[i];
        c.phaseATempCoeff[i] = phase[i];
    }
    c.swOverCurrent = 500.0f;
    c.checkObserverAgainstHalls = 1;
    c.engageMotorSpeed = 2.5f;
    c.disengageMotorSpeed = 1.75f;
    c.controllerKpFactor = 2.0f;
    c.controllerKiFactor = 0.5f;
    storeChecksum(c);
    return c;
}

void applyMotorDefaults(MotorConfig& m) {
    // Forward hall sequence 5, 1, 3, 2, 6, 4 with edges every 60 degrees; states 0 and 7 are
    // invalid and carry angle 1 and themselves as predecessor.
    const float angle[8] = {1.0f,        1.0f / 6.0f, 0.5f,        1.0f / 3.0f,
                            5.0f / 6.0f, 0.0f,        2.0f / 3.0f, 1.0f};
    const std::uint16_t previous[8] = {0, 5, 3, 1, 6, 4, 2, 7};
    m.polePairs = 20;
    m.lineResistance = 0.0692f;
    m.lineInductance = 6.48e-5f;
    m.speedConstant = 0.39f;
    m.phaseSequenceReversed = 0;
    m.cutoutTemp = 90.0f;
    m.rampTemp = 70.0f;
    m.tempScale = 1.0f;
    m.tempOffset = 0.0f;
    m.thermistorRinf = 0.07623f;
    m.thermistorBeta = 4200.0f;
    m.tempCoeffC = 0.0f;
    m.tempCoeffD = 0.0f;
    setDescription(m, "DOZAZ surface");
    for (int i = 0; i < 8; ++i) {
        m.hallAngle[i] = angle[i];
        m.hallPrevious[i] = previous[i];
    }
    m.ignoreHallsSensorless = 0;
    m.engageFreq = 2.5f;
    m.disengageFreq = 1.75f;
    m.motorType = 0;
    m.rotorResistance = 0.0f;
    m.rotorInductance = 0.0f;
    m.minId = 3.0f;
    m.maxId = 20.0f;
    m.encoderCount = 2000;
    m.encoderReversed = 0;
    storeChecksum(m);
}

void CConfigDataBank::resetToDefaults() {
    readOnly = ReadOnlyConfigInfo{};
    publicConfig = defaultPublicConfig();
    privateConfig = defaultPrivateConfig();
    for (MotorConfig& m : motor) applyMotorDefaults(m);
    valid_ = {};
}

void CConfigDataBank::clearExtraBlocks() {
    extraPublic_.clear();
    extraPublic_.shrink_to_fit();
    extraPrivate_.clear();
    extraPrivate_.shrink_to_fit();
    for (auto& block : extraMotor_) {
        block.clear();
        block.shrink_to_fit();
    }
    extraLength_ = {};
}

void CConfigDataBank::deviceChanged() {
    valid_ = {};
    modified_ = {};
    heldVersion = 0;
}

std::span<std::uint8_t> CConfigDataBank::recordBytes(StructureKind kind, std::size_t record) {
    switch (kind) {
        case StructureKind::Public:
            if (record == 0) return bytesOf(publicConfig);
            break;
        case StructureKind::Private:
            if (record == 0) return bytesOf(privateConfig);
            break;
        case StructureKind::Motor:
            if (record < kMotorCount) return bytesOf(motor[record]);
            break;
    }
    throw std::out_of_range("configuration record index");
}

std::span<const std::uint8_t> CConfigDataBank::recordBytes(StructureKind kind,
                                                           std::size_t record) const {
    return const_cast<CConfigDataBank*>(this)->recordBytes(kind, record);
}

std::vector<std::uint8_t>& CConfigDataBank::extraSlot(StructureKind kind, std::size_t record) {
    switch (kind) {
        case StructureKind::Public:
            if (record == 0) return extraPublic_;
            break;
        case StructureKind::Private:
            if (record == 0) return extraPrivate_;
            break;
        case StructureKind::Motor:
            if (record < kMotorCount) return extraMotor_[record];
            break;
    }
    throw std::out_of_range("configuration record index");
}

std::span<const std::uint8_t> CConfigDataBank::extraBlock(StructureKind kind,
                                                          std::size_t record) const {
    return const_cast<CConfigDataBank*>(this)->extraSlot(kind, record);
}

bool CConfigDataBank::placeRecords(StructureKind kind, std::span<const std::uint8_t> data,
                                   std::uint16_t recordSize) {
    const std::size_t count = recordCount(kind);
    const std::size_t known = knownSize(kind);
    if (data.size() / count < recordSize) return false;
    const std::size_t copied = std::min<std::size_t>(recordSize, known);
    const std::size_t extra = recordSize - copied;
    for (std::size_t i = 0; i < count; ++i) {
        const auto source = data.subspan(i * recordSize, recordSize);
        std::memcpy(recordBytes(kind, i).data(), source.data(), copied);
        extraSlot(kind, i).assign(source.begin() + static_cast<std::ptrdiff_t>(copied),
                                  source.end());
    }
    extraLength_[index(kind)] = static_cast<std::uint16_t>(extra);
    return true;
}

void CConfigDataBank::refreshChecksums(bool includeExtraBlocks) {
    for (StructureKind kind :
         {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        for (std::size_t i = 0; i < recordCount(kind); ++i) {
            const auto bytes = recordBytes(kind, i);
            const std::uint16_t sum = computeChecksum(
                bytes, includeExtraBlocks ? extraBlock(kind, i) : std::span<const std::uint8_t>{});
            bytes[0] = static_cast<std::uint8_t>(sum & 0xFF);
            bytes[1] = static_cast<std::uint8_t>(sum >> 8);
        }
    }
}

std::vector<std::uint8_t> CConfigDataBank::comparable() const {
    std::vector<std::uint8_t> out;
    out.reserve(kPublicSize + kPrivateSize + kMotorCount * kMotorSize);
    for (StructureKind kind :
         {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        for (std::size_t i = 0; i < recordCount(kind); ++i) {
            const auto bytes = recordBytes(kind, i);
            const std::size_t start = out.size();
            out.insert(out.end(), bytes.begin(), bytes.end());
            out[start] = out[start + 1] = 0;  // the checksum follows the fields
            if (kind == StructureKind::Motor && motor[i].motorType == 0) {
                constexpr std::size_t from = offsetof(MotorConfig, minId);
                std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(start + from), 8, 0);
            }
        }
    }
    return out;
}

void CConfigDataBank::markSaved() {
    saved_ = comparable();
}

void CConfigDataBank::markSaved(StructureKind kind) {
    const std::vector<std::uint8_t> now = comparable();
    std::size_t from = 0;
    for (StructureKind k : {StructureKind::Public, StructureKind::Private}) {
        if (k == kind) break;
        from += knownSize(k);
    }
    const std::size_t size = knownSize(kind) * recordCount(kind);
    std::copy_n(now.begin() + static_cast<std::ptrdiff_t>(from), size,
                saved_.begin() + static_cast<std::ptrdiff_t>(from));
}

bool CConfigDataBank::unsavedChanges() const {
    return comparable() != saved_;
}

void CConfigDataBank::noteVersion(std::uint16_t version) {
    heldVersion = std::max(heldVersion, version);
}

std::uint16_t CConfigDataBank::streamVersion() const {
    return std::max(heldVersion, kConfigVersion);
}

}  // namespace qv
