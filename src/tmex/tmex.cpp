// SPDX-License-Identifier: GPL-2.0-or-later
#include "tmex/tmex.h"

#include <cstring>
#include <map>

namespace wx {

namespace {
// Where TMRom keeps the selected ROM inside the caller's state buffer.
constexpr size_t kRomOffset = 0;
}  // namespace

int BusBackend::SteeredSearch(const uint8_t rom[8]) {
  int b = TouchByte(0xF0);
  if (b < 0) return b;
  for (int i = 0; i < 64; ++i) {
    const int want = (rom[i / 8] >> (i % 8)) & 1;
    const int bit = TouchBit(1);
    if (bit < 0) return bit;
    const int comp = TouchBit(1);
    if (comp < 0) return comp;
    if (bit && comp) return 0;                 // nobody left
    if (bit != comp && bit != want) return 0;  // all remaining chips differ here
    const int w = TouchBit(want);
    if (w < 0) return w;
  }
  return 1;
}

int BusBackend::TouchBlock(uint8_t* data, size_t len, size_t* good) {
  for (size_t i = 0; i < len; ++i) {
    const int b = TouchByte(data[i]);
    if (b < 0) {
      if (good) *good = i;
      return b;
    }
    data[i] = static_cast<uint8_t>(b);
  }
  if (good) *good = len;
  return static_cast<int>(len);
}

int BusBackend::ResetThenBlock(uint8_t* data, size_t len) {
  const int r = Reset();
  if ((r != 1 && r != 2) || len == 0) return r;
  const int b = TouchBlock(data, len, nullptr);
  return b < 0 ? b : r;
}

int BusBackend::ResetThenSearch(const uint8_t rom[8]) {
  const int r = Reset();
  if (r != 1 && r != 2) return r;
  return SteeredSearch(rom);
}

struct Tmex::Impl {
  struct Session {
    int port = 0;
    int type = 0;
    std::unique_ptr<BusBackend> backend;
    bool open = false;     // TMSetup succeeded
    bool pullup = false;   // strong pull-up on or armed
  };
  struct Kept {
    int type = 0;
    std::unique_ptr<BusBackend> backend;
  };
  BackendFactory factory;
  int32_t nextHandle = 1;
  std::map<int32_t, Session> sessions;
  std::map<int, Kept> kept;  // by port: adapters left open by ended sessions

  Session* Find(int32_t h) {
    auto it = sessions.find(h);
    return it == sessions.end() ? nullptr : &it->second;
  }
  // The session for an access to the ROM in stateBuffer; err says why not.
  Session* ForAccess(int32_t h, const void* stateBuffer, int16_t& err) {
    Session* s = Find(h);
    err = !s ? kTmexErrInvalidSession : !s->open ? kTmexErrNotSetUp : !stateBuffer ? kTmexErrBadArgument : 0;
    return err ? nullptr : s;
  }
  void Drop(std::map<int32_t, Session>::iterator it) {
    Session& s = it->second;
    if (s.backend) {
      s.backend->Release();
      if (s.backend->KeptOpen()) kept[s.port] = Kept{s.type, std::move(s.backend)};
    }
    sessions.erase(it);
  }
  // The adapter left open on this port, if it is of that type and still fit.
  std::unique_ptr<BusBackend> TakeKept(int port, int type) {
    std::unique_ptr<BusBackend> b;
    auto k = kept.find(port);
    if (k == kept.end()) return b;
    if (k->second.type == type && k->second.backend->KeptOpen()) b = std::move(k->second.backend);
    kept.erase(k);  // a stale one closes here
    return b;
  }
  // Ends a strong pull-up before other traffic.
  int16_t DropPullup(Session& s) {
    if (!s.pullup) return 0;
    const int l = s.backend->SetLevel(0, false);
    if (l < 0) return static_cast<int16_t>(l);
    s.pullup = false;
    return 0;
  }
};

Tmex::Tmex(BackendFactory factory) : impl_(std::make_unique<Impl>()) {
  impl_->factory = std::move(factory);
}

Tmex::~Tmex() {
  while (!impl_->sessions.empty()) impl_->Drop(impl_->sessions.begin());
  impl_->kept.clear();
}

int32_t Tmex::TMExtendedStartSession(int16_t portNum, int16_t portType, void* /*sessionOptions*/) {
  // A session still open on this port was abandoned by its owner: release it
  // so that the port does not stay locked.
  for (auto it = impl_->sessions.begin(); it != impl_->sessions.end();) {
    auto next = std::next(it);
    if (it->second.port == portNum) impl_->Drop(it);
    it = next;
  }
  std::unique_ptr<BusBackend> backend = impl_->TakeKept(portNum, portType);
  if (!backend && impl_->factory) backend = impl_->factory(portNum, portType);
  if (!backend) return kTmexErrNoBackend;
  const int32_t h = impl_->nextHandle++;
  if (impl_->nextHandle <= 0) impl_->nextHandle = 1;
  Impl::Session s;
  s.port = portNum;
  s.type = portType;
  s.backend = std::move(backend);
  impl_->sessions.emplace(h, std::move(s));
  return h;
}

int16_t Tmex::TMSetup(int32_t session) {
  Impl::Session* s = impl_->Find(session);
  if (!s) return kTmexErrInvalidSession;
  if (!s->open) s->open = s->backend->Open();
  return s->open ? 1 : kTmexSetupNoAdapter;
}

int16_t Tmex::TMRom(int32_t session, void* stateBuffer, int16_t* romBuffer) {
  if (!impl_->Find(session)) return kTmexErrInvalidSession;
  if (!stateBuffer || !romBuffer) return kTmexErrBadArgument;
  auto* rom = static_cast<uint8_t*>(stateBuffer) + kRomOffset;
  if (romBuffer[0] != 0) {
    for (int i = 0; i < 8; ++i) rom[i] = static_cast<uint8_t>(romBuffer[i] & 0xFF);
  } else {
    for (int i = 0; i < 8; ++i) romBuffer[i] = rom[i];
  }
  return 1;
}

int16_t Tmex::TMValidSession(int32_t session) { return impl_->Find(session) ? 1 : 0; }

int16_t Tmex::TMAccess(int32_t session, void* stateBuffer) {
  int16_t err;
  Impl::Session* s = impl_->ForAccess(session, stateBuffer, err);
  if (!s) return err;
  const auto* rom = static_cast<const uint8_t*>(stateBuffer) + kRomOffset;
  if (const int16_t e = impl_->DropPullup(*s); e < 0) return e;
  // Reset, then Match ROM and the ROM when a chip answered.
  uint8_t match[9] = {0x55};
  for (int i = 0; i < 8; ++i) match[1 + i] = rom[i];
  const int r = s->backend->ResetThenBlock(match, sizeof match);
  if (r < 0) return static_cast<int16_t>(r);
  return r == 1 || r == 2 ? 1 : 0;
}

int16_t Tmex::TMStrongAccess(int32_t session, void* stateBuffer) {
  int16_t err;
  Impl::Session* s = impl_->ForAccess(session, stateBuffer, err);
  if (!s) return err;
  const auto* rom = static_cast<const uint8_t*>(stateBuffer) + kRomOffset;
  // Search ROM steered along this ROM: it completes only if a chip with
  // exactly these 64 bits answers every bit.
  if (const int16_t e = impl_->DropPullup(*s); e < 0) return e;
  const int found = s->backend->ResetThenSearch(rom);
  if (found <= 0) return static_cast<int16_t>(found);
  return TMAccess(session, stateBuffer);
}

int16_t Tmex::TMTouchReset(int32_t session) {
  Impl::Session* s = impl_->Find(session);
  if (!s) return kTmexErrInvalidSession;
  if (!s->open) return kTmexErrNotSetUp;
  if (const int16_t e = impl_->DropPullup(*s); e < 0) return e;
  const int r = s->backend->Reset();
  return static_cast<int16_t>(r);
}

int16_t Tmex::TMTouchByte(int32_t session, int16_t byte) {
  Impl::Session* s = impl_->Find(session);
  if (!s) return kTmexErrInvalidSession;
  if (!s->open) return kTmexErrNotSetUp;
  if (byte < 0 || byte > 255) return kTmexErrBadArgument;
  return static_cast<int16_t>(s->backend->TouchByte(static_cast<uint8_t>(byte)));
}

int16_t Tmex::TMBlockStream(int32_t session, uint8_t* buffer, int16_t count, int16_t* good) {
  if (good) *good = 0;
  Impl::Session* s = impl_->Find(session);
  if (!s) return kTmexErrInvalidSession;
  if (!s->open) return kTmexErrNotSetUp;
  if (!buffer || count < 0) return kTmexErrBadArgument;
  size_t done = 0;
  const int r = s->backend->TouchBlock(buffer, static_cast<size_t>(count), &done);
  if (good) *good = static_cast<int16_t>(done);
  return static_cast<int16_t>(r);
}

int16_t Tmex::TMOneWireLevel(int32_t session, int16_t operation, int16_t levelMode, int16_t primed) {
  Impl::Session* s = impl_->Find(session);
  if (!s) return kTmexErrInvalidSession;
  if (!s->open) return kTmexErrNotSetUp;
  if (operation == 1) return s->pullup ? 1 : 0;
  if (operation != 0 || levelMode < 0 || levelMode > 1 || (primed != 0 && primed != 2))
    return kTmexErrBadArgument;
  const int r = s->backend->SetLevel(levelMode, primed == 2);
  if (r < 0) return static_cast<int16_t>(r);
  s->pullup = levelMode == 1;
  return levelMode;
}

int16_t Tmex::TMEndSession(int32_t session) {
  auto it = impl_->sessions.find(session);
  if (it == impl_->sessions.end()) return kTmexErrInvalidSession;
  impl_->Drop(it);
  return 1;
}

BusBackend* Tmex::BackendOf(int32_t session) {
  Impl::Session* s = impl_->Find(session);
  return s ? s->backend.get() : nullptr;
}

}  // namespace wx
