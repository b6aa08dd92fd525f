// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/sim/chips.h"

#include <algorithm>
#include <cmath>

#include "tmex/crc.h"

namespace wx {

namespace {

std::vector<uint8_t> WithInvertedCrc16(const std::vector<uint8_t>& covered, std::vector<uint8_t> out,
                                       uint16_t seed = 0) {
  const uint16_t crc = static_cast<uint16_t>(~Crc16(covered.data(), covered.size(), seed));
  out.push_back(static_cast<uint8_t>(crc & 0xFF));
  out.push_back(static_cast<uint8_t>(crc >> 8));
  return out;
}

void PutLe32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// Wind vane codes, inputs A..D, per direction index; one table per vane
// wiring.
constexpr const char* kVaneTables[4][16] = {
    {"2000", "2200", "0200", "0220", "0020", "0022", "0002", "1002", "1000", "1100", "0100", "0110",
     "0010", "0011", "0001", "2001"},
    {"2000", "2002", "0002", "0022", "0020", "0220", "0200", "1200", "1000", "1001", "0001", "0011",
     "0010", "0110", "0100", "2100"},
    {"2221", "2222", "1222", "1221", "1211", "1212", "1112", "1111", "1121", "1122", "2122", "2121",
     "2111", "2112", "2212", "2211"},
    {"2220", "2222", "0222", "0220", "0200", "0202", "0002", "0000", "0020", "0022", "2022", "2020",
     "2000", "2002", "2202", "2200"},
};

}  // namespace

// ---------------------------------------------------------------- DS18x20

Ds18x20::Ds18x20(const RomCode& rom) : SimChip(rom), b20_(rom[0] == kFamilyDs18b20) {
  if (b20_)
    pad_ = {0x50, 0x05, eeTh_, eeTl_, eeCfg_, 0xFF, 0x0C, 0x10, 0};
  else
    pad_ = {0xAA, 0x00, eeTh_, eeTl_, 0xFF, 0xFF, 0x0C, 0x10, 0};
  pad_[8] = Crc8(pad_.data(), 8);
}

SimTimeUs Ds18x20::ConversionUs() const {
  if (!b20_) return 750000;
  const int r = (pad_[4] >> 5) & 3;
  return 93750ull << r;
}

void Ds18x20::SetRaw(double c) {
  c = std::clamp(c, -55.0, 125.0);
  if (b20_) {
    int raw = static_cast<int>(std::lround(c * 16));
    const int r = (pad_[4] >> 5) & 3;
    raw &= ~((1 << (3 - r)) - 1);
    pad_[0] = static_cast<uint8_t>(raw & 0xFF);
    pad_[1] = static_cast<uint8_t>((raw >> 8) & 0xFF);
  } else {
    const int raw = static_cast<int>(std::lround(c * 2));
    pad_[0] = static_cast<uint8_t>(raw & 0xFF);
    pad_[1] = static_cast<uint8_t>((raw >> 8) & 0xFF);
    // Extended resolution: T = int - 0.25 + (16 - COUNT_REMAIN) / 16.
    const double whole = std::floor(c + 0.25);
    const int remain = 16 - static_cast<int>(std::lround((c + 0.25 - whole) * 16));
    pad_[6] = static_cast<uint8_t>(std::clamp(remain, 1, 16));
    pad_[7] = 0x10;
  }
  pad_[8] = Crc8(pad_.data(), 8);
}

void Ds18x20::Update(SimTimeUs now) {
  if (converting_ && now >= convEnd_) {
    SetRaw(temp_.At(Seconds(convEnd_)));
    converting_ = false;
  }
}

void Ds18x20::OnFunctionByte(uint8_t b, SimTimeUs now) {
  if (cmd_ == 0) {
    cmd_ = b;
    switch (b) {
      case 0x44:
        convEnd_ = ConversionEnd(now, ConversionUs());
        converting_ = true;
        BusyUntil(convEnd_);
        return;
      case 0xBE:
        Update(now);
        Transmit({pad_.begin(), pad_.end()});
        return;
      case 0x4E:
        written_ = 0;
        return;
      case 0x48:
        eeTh_ = pad_[2];
        eeTl_ = pad_[3];
        if (b20_) eeCfg_ = pad_[4];
        BusyUntil(now + 10000);
        return;
      case 0xB8:
        pad_[2] = eeTh_;
        pad_[3] = eeTl_;
        if (b20_) pad_[4] = eeCfg_;
        pad_[8] = Crc8(pad_.data(), 8);
        SendOnes();
        return;
      default:  // B4: externally powered, answers 1s; unknown commands too
        SendOnes();
        return;
    }
  }
  if (cmd_ == 0x4E) {
    const int n = b20_ ? 3 : 2;
    if (written_ < n) {
      pad_[2 + written_] = (written_ == 2) ? static_cast<uint8_t>((b & 0x60) | 0x1F) : b;
      ++written_;
      pad_[8] = Crc8(pad_.data(), 8);
    }
    if (written_ >= n) SendOnes();
  }
}

// ----------------------------------------------------------------- DS2438

Ds2438::Ds2438(const RomCode& rom) : SimChip(rom) {
  mem_[0][0] = config_;
  mem_[1][7] = 0xFF;
  pad_ = mem_;
}

uint8_t Ds2438::Status() const {
  return static_cast<uint8_t>(config_ | (tempBusy_ ? 0x10 : 0) | (voltBusy_ ? 0x40 : 0));
}

void Ds2438::Update(SimTimeUs now) {
  if (tempBusy_ && now >= tempEnd_) {
    const double c = std::clamp(temp_.At(Seconds(tempEnd_)), -55.0, 125.0);
    const int raw = static_cast<int>(std::lround(c * 32)) * 8;  // 13 bits, low 3 read 0
    mem_[0][1] = static_cast<uint8_t>(raw & 0xFF);
    mem_[0][2] = static_cast<uint8_t>((raw >> 8) & 0xFF);
    tempBusy_ = false;
  }
  if (voltBusy_ && now >= voltEnd_) {
    const double v = (voltVdd_ ? vdd_ : vad_).At(Seconds(voltEnd_));
    const long units = std::clamp(std::lround(v * 100), 0L, 1023L);
    mem_[0][3] = static_cast<uint8_t>(units & 0xFF);
    mem_[0][4] = static_cast<uint8_t>(units >> 8);
    voltBusy_ = false;
  }
  mem_[0][0] = Status();
}

void Ds2438::OnFunctionByte(uint8_t b, SimTimeUs now) {
  if (cmd_ == 0) {
    cmd_ = b;
    switch (b) {
      case 0x4E:
      case 0xBE:
      case 0x48:
      case 0xB8:
        return;  // page number follows
      case 0x44:
        tempEnd_ = ConversionEnd(now, kTempConversionUs);
        tempBusy_ = true;
        mem_[0][0] = Status();
        BusyUntil(tempEnd_);
        return;
      case 0xB4:
        voltVdd_ = (config_ & 0x08) != 0;
        voltEnd_ = ConversionEnd(now, kVoltConversionUs);
        voltBusy_ = true;
        mem_[0][0] = Status();
        BusyUntil(voltEnd_);
        return;
      default:
        SendOnes();
        return;
    }
  }
  if (!havePage_) {
    if (b > 7) {
      SendOnes();
      return;
    }
    page_ = b;
    havePage_ = true;
    switch (cmd_) {
      case 0xBE: {
        std::vector<uint8_t> out(pad_[page_].begin(), pad_[page_].end());
        out.push_back(Crc8(out.data(), 8));
        Transmit(std::move(out));
        return;
      }
      case 0xB8:
        Update(now);
        pad_[page_] = mem_[page_];
        SendOnes();
        return;
      case 0x48:
        if (page_ == 0) {
          // Temperature, voltage and current are the chip's own; only the
          // configuration bits and the threshold are stored.
          config_ = pad_[0][0] & 0x0F;
          mem_[0][0] = Status();
          mem_[0][7] = pad_[0][7];
        } else {
          mem_[page_] = pad_[page_];
        }
        BusyUntil(now + 10000);
        return;
      default:  // 4E: data follows
        written_ = 0;
        return;
    }
  }
  if (cmd_ == 0x4E) {
    if (written_ < 8) {
      pad_[page_][written_] = b;
      // The A/D input selection takes effect at once, without a copy.
      if (page_ == 0 && written_ == 0) {
        config_ = b & 0x0F;
        mem_[0][0] = Status();
      }
      ++written_;
    }
    if (written_ >= 8) SendOnes();
  }
}

// ----------------------------------------------------------------- DS2423

Ds2423::Ds2423(const RomCode& rom) : SimChip(rom) {}

uint32_t Ds2423::Counter(int page, SimTimeUs now) {
  auto count = [&](const ValueProgram& p, uint32_t& last) {
    const double v = p.At(Seconds(now));
    uint32_t c = 0;
    if (v >= 4294967295.0)
      c = 0xFFFFFFFFu;
    else if (v > 0)
      c = static_cast<uint32_t>(std::floor(v));
    last = std::max(last, c);  // a counter only counts up
    return last;
  };
  if (page == 14) return count(a_, lastA_);
  if (page == 15) return count(b_, lastB_);
  if (page == 12 || page == 13) return 0;
  return 0xFFFFFFFFu;
}

std::vector<uint8_t> Ds2423::PageTail(int address, SimTimeUs now) {
  const int page = address / 32;
  std::vector<uint8_t> out(mem_.begin() + address, mem_.begin() + (page + 1) * 32);
  PutLe32(out, Counter(page, now));
  PutLe32(out, 0);
  return out;
}

void Ds2423::OnFunctionByte(uint8_t b, SimTimeUs now) {
  if (cmd_ == 0) {
    cmd_ = b;
    addrBytes_ = 0;
    if (b != 0xA5 && b != 0xF0) SendOnes();
    return;
  }
  if (addrBytes_ == 0) {
    address_ = b;
    addrBytes_ = 1;
    return;
  }
  const uint8_t ta1 = static_cast<uint8_t>(address_);
  const uint8_t ta2 = b;
  address_ = (address_ | (b << 8)) & 0x1FF;
  addrBytes_ = 2;
  if (cmd_ == 0xF0) {
    Transmit({mem_.begin() + address_, mem_.end()});
    return;
  }
  page_ = address_ / 32;
  std::vector<uint8_t> tail = PageTail(address_, now);
  std::vector<uint8_t> covered = {0xA5, ta1, ta2};
  covered.insert(covered.end(), tail.begin(), tail.end());
  Transmit(WithInvertedCrc16(covered, tail));
}

void Ds2423::OnTransmitDone(SimTimeUs now) {
  if (cmd_ == 0xA5 && page_ < 15) {
    ++page_;
    std::vector<uint8_t> tail = PageTail(page_ * 32, now);
    Transmit(WithInvertedCrc16(tail, tail));
    return;
  }
  SendOnes();
}

// ----------------------------------------------------------------- DS2450

Ds2450::Ds2450(const RomCode& rom) : SimChip(rom) {
  for (int ch = 0; ch < 4; ++ch) {
    mem_[8 + 2 * ch] = 0x08;
    mem_[9 + 2 * ch] = 0x8C;
    mem_[0x10 + 2 * ch] = 0x00;
    mem_[0x11 + 2 * ch] = 0xFF;
  }
}

void Ds2450::SetVane(ValueProgram dir, int table) {
  vane_ = std::move(dir);
  vaneTable_ = std::clamp(table, 0, 3);
}

double Ds2450::InputVolts(int ch, double s) const {
  if (vane_) {
    const long idx = ((std::lround(std::floor(vane_->At(s))) % 16) + 16) % 16;
    switch (kVaneTables[vaneTable_][idx][ch]) {
      case '0': return kVaneLow;
      case '1': return kVaneMid;
      default: return kVaneHigh;
    }
  }
  return in_[ch].At(s);
}

SimTimeUs Ds2450::ConversionUs(uint8_t mask) const {
  SimTimeUs us = 160;
  for (int ch = 0; ch < 4; ++ch) {
    if (!(mask & (1 << ch))) continue;
    int bits = mem_[8 + 2 * ch] & 0x0F;
    if (bits == 0) bits = 16;
    us += 80 * static_cast<SimTimeUs>(bits);
  }
  return us;
}

void Ds2450::Update(SimTimeUs now) {
  if (!convPending_ || now < convEnd_) return;
  convPending_ = false;
  for (int ch = 0; ch < 4; ++ch) {
    if (!(convMask_ & (1 << ch))) continue;
    const double range = (mem_[9 + 2 * ch] & 1) ? 5.12 : 2.56;
    int bits = mem_[8 + 2 * ch] & 0x0F;
    if (bits == 0) bits = 16;
    const double v = InputVolts(ch, Seconds(convEnd_));
    long raw = std::clamp(static_cast<long>(std::floor(v / range * 65536.0)), 0L, 65535L);
    raw &= (0xFFFFL << (16 - bits)) & 0xFFFF;
    mem_[2 * ch] = static_cast<uint8_t>(raw & 0xFF);
    mem_[2 * ch + 1] = static_cast<uint8_t>(raw >> 8);
    const uint8_t msb = static_cast<uint8_t>(raw >> 8);
    uint8_t& st = mem_[9 + 2 * ch];
    st &= static_cast<uint8_t>(~0x30);
    if (msb < mem_[0x10 + 2 * ch]) st |= 0x10;
    if (msb > mem_[0x11 + 2 * ch]) st |= 0x20;
  }
}

void Ds2450::Store(int a, uint8_t v) {
  if (a < 8) return;  // conversion results are the chip's own
  if (a < 16) v &= (a % 2 == 0) ? 0xCF : 0xBD;  // bits that always read 0
  mem_[a] = v;
}

std::vector<uint8_t> Ds2450::PageRead(int a, const std::vector<uint8_t>& prefix) const {
  std::vector<uint8_t> data(mem_.begin() + a, mem_.begin() + ((a | 7) + 1));
  std::vector<uint8_t> covered = prefix;
  covered.insert(covered.end(), data.begin(), data.end());
  return WithInvertedCrc16(covered, data);
}

void Ds2450::OnFunctionByte(uint8_t b, SimTimeUs now) {
  if (cmd_ == 0) {
    cmd_ = b;
    args_.clear();
    if (b != 0xAA && b != 0x55 && b != 0x3C) SendOnes();
    return;
  }
  args_.push_back(b);
  switch (cmd_) {
    case 0xAA:
      if (args_.size() == 2) {
        address_ = args_[0] | (args_[1] << 8);
        if (address_ > 0x1F) {
          SendOnes();
          return;
        }
        page_ = address_ / 8;
        Transmit(PageRead(address_, {0xAA, args_[0], args_[1]}));
      }
      return;
    case 0x55:
      if (args_.size() == 3) {
        address_ = args_[0] | (args_[1] << 8);
        if (address_ > 0x1F) {
          SendOnes();
          return;
        }
        Store(address_, b);
        // CRC then the byte as stored.
        std::vector<uint8_t> out = WithInvertedCrc16({0x55, args_[0], args_[1], b}, {});
        out.push_back(mem_[address_]);
        Transmit(std::move(out));
      } else if (args_.size() > 3) {
        // Continuation: the CRC register starts from the new address.
        Store(address_, b);
        std::vector<uint8_t> out = WithInvertedCrc16({b}, {}, static_cast<uint16_t>(address_));
        out.push_back(mem_[address_]);
        Transmit(std::move(out));
      }
      return;
    case 0x3C:
      if (args_.size() == 2) Transmit(WithInvertedCrc16({0x3C, args_[0], args_[1]}, {}));
      return;
  }
  (void)now;
}

void Ds2450::OnTransmitDone(SimTimeUs now) {
  switch (cmd_) {
    case 0xAA:
      if (page_ < 3) {
        ++page_;
        Transmit(PageRead(page_ * 8, {}));
        return;
      }
      break;
    case 0x55:
      if (++address_ <= 0x1F) {
        Receive();
        return;
      }
      break;
    case 0x3C: {
      const uint8_t mask = args_[0] & 0x0F;
      const uint8_t ctrl = args_[1];
      for (int ch = 0; ch < 4; ++ch) {
        if (!(mask & (1 << ch))) continue;
        const int preset = (ctrl >> (2 * ch)) & 3;
        if (preset == 1) mem_[2 * ch] = mem_[2 * ch + 1] = 0x00;
        if (preset == 2) mem_[2 * ch] = mem_[2 * ch + 1] = 0xFF;
      }
      convMask_ = mask;
      convEnd_ = ConversionEnd(now, ConversionUs(mask));
      convPending_ = true;
      BusyUntil(convEnd_);
      return;
    }
  }
  SendOnes();
}

}  // namespace wx
