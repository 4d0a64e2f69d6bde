#include "Eeprom24C.h"

#include <algorithm>

namespace dormane::sim {
namespace {

// Page size of each density, from the 24C-series datasheets.
uint32_t PageSizeFor(uint32_t size) {
    if (size <= 256)
        return 8;
    if (size <= 2048)
        return 16;
    if (size <= 8192)
        return 32;
    if (size <= 32768)
        return 64;
    return 128;
}

} // namespace

Eeprom24C::Eeprom24C(uint32_t size, Time writeCycle)
    : m_vMemory(ValidSize(size) ? size : 256, 0xFF), m_nPageSize(PageSizeFor(Size())),
      m_tWriteCycle(writeCycle) {}

bool Eeprom24C::ValidSize(uint32_t size) {
    return size >= 256 && size <= 65536 && (size & (size - 1)) == 0;
}

bool Eeprom24C::Answers(uint8_t deviceByte) const {
    if (AddressBytes() == 2)
        return (deviceByte & 0xFE) == 0xA8;
    if ((deviceByte & 0xF0) != 0xA0)
        return false;
    // The low chip-select bits carry the block number; the pins of the others are tied low.
    const uint32_t select = (deviceByte >> 1) & 0x07;
    return select < Size() / 256;
}

void Eeprom24C::Start() {
    // A repeated start before the stop abandons a write: only a stop starts the write cycle.
    m_vPending.clear();
    m_phase = Phase::DeviceByte;
}

bool Eeprom24C::WriteByte(uint8_t byte, Time now) {
    switch (m_phase) {
    case Phase::DeviceByte:
        if (!Answers(byte) || InWriteCycle(now)) {
            m_phase = Phase::Ignore;
            return false;
        }
        if (byte & 0x01) {
            // A read goes on from the address counter.
            m_phase = Phase::ReadData;
            return true;
        }
        m_phase = Phase::Address;
        m_nBlock = AddressBytes() == 1 ? (byte >> 1) & 0x07 : 0;
        m_nAddressSeen = 0;
        return true;
    case Phase::Address:
        if (AddressBytes() == 2 && m_nAddressSeen == 0) {
            m_nAddressHigh = byte;
            m_nAddressSeen = 1;
            return true;
        }
        // The counter is loaded only once all of the chip's address bytes have arrived.
        if (AddressBytes() == 2)
            m_nCounter = ((m_nAddressHigh << 8) | byte) & Mask();
        else
            m_nCounter = ((m_nBlock << 8) | byte) & Mask();
        m_phase = Phase::WriteData;
        return true;
    case Phase::WriteData: {
        // Into the page buffer; the counter's low bits wrap inside the page.
        m_vPending.emplace_back(m_nCounter, byte);
        const uint32_t pageMask = m_nPageSize - 1;
        m_nCounter = (m_nCounter & ~pageMask) | ((m_nCounter + 1) & pageMask);
        return true;
    }
    case Phase::Idle:
    case Phase::ReadData:
    case Phase::Ignore:
        return false;
    }
    return false;
}

uint8_t Eeprom24C::ReadByte() {
    if (m_phase != Phase::ReadData)
        return 0xFF; // nobody drives the bus: the pull-ups read as ones
    const uint8_t b = m_vMemory[m_nCounter];
    m_nCounter = (m_nCounter + 1) & Mask();
    return b;
}

void Eeprom24C::Stop(Time now) {
    if (m_phase == Phase::WriteData && !m_vPending.empty()) {
        uint32_t first = m_vPending.front().first;
        uint32_t last = first;
        for (const auto& [position, value] : m_vPending) {
            m_vMemory[position] = value;
            first = std::min(first, position);
            last = std::max(last, position);
        }
        m_vPending.clear();
        m_tWriteCycleEnd = now + m_tWriteCycle;
        if (m_fnCommit)
            m_fnCommit(first, last - first + 1);
    }
    m_vPending.clear();
    m_phase = Phase::Idle;
}

} // namespace dormane::sim
