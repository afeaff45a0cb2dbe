// The simulator's control interface over the driver's cards.
#include "Driver.h"
#include "VtxDriver.h"

#include <setupapi.h>

namespace vsim {
namespace {

class SimulatorImpl final : public Simulator {
 public:
  explicit SimulatorImpl(int cards) : hotPlug_(std::make_shared<HotPlugEvents>()) {
    SimDriver::Instance().SetCards({});
    vw32::RegisterDriver(L"\\\\?\\vantrel#simcard#", &SimDriver::Instance());
    for (int i = 0; i < cards; ++i) {
      CardConfig config;
      config.slotNumber = static_cast<uint32_t>(i + 1);
      config.slotName = L"PCIe Slot " + std::to_wstring(i + 1);
      AddCard(config);
    }
  }

  // Handles still open fail from here on; their cards live until they close.
  void Shutdown() {
    std::lock_guard<std::mutex> lock(controlMu_);
    const auto cards = SimDriver::Instance().Cards();
    for (size_t i = 0; i < cards.size(); ++i) {
      if (cards[i]->Present()) vw32::RemoveDeviceInterface(VTX_INTERFACE_CLASS, SimDriver::DevicePath(int(i)).c_str());
      cards[i]->Shutdown();
    }
    vw32::UnregisterDriver(&SimDriver::Instance());
    SimDriver::Instance().SetCards({});
    hotPlug_->Shutdown();
  }

  int CardCount() const override { return static_cast<int>(SimDriver::Instance().Cards().size()); }

  void AddCard(const CardConfig& config) override {
    std::lock_guard<std::mutex> lock(controlMu_);
    const int index = CardCount();
    auto card = std::make_shared<Card>(index, config, hotPlug_);
    ApplySettings(*card);
    card->StartClock();
    SimDriver::Instance().AddCard(card);
    vw32::AddDeviceInterface(VTX_INTERFACE_CLASS, SimDriver::DevicePath(index).c_str(), SPINT_ACTIVE);
  }

  void ConfigureCard(int index, const CardConfig& config) override {
    if (auto card = SimDriver::Instance().CardAt(index)) card->Configure(config);
  }

  void RemoveCard(int index) override {
    std::lock_guard<std::mutex> lock(controlMu_);
    const auto card = SimDriver::Instance().CardAt(index);
    if (!card || !card->Present()) return;
    // Every session open now reacts to the removal signal, whatever its card.
    for (const auto& c : SimDriver::Instance().Cards()) c->MarkRemovalObservers();
    vw32::RemoveDeviceInterface(VTX_INTERFACE_CLASS, SimDriver::DevicePath(index).c_str());
    card->Remove();
    hotPlug_->Removed();
  }

  void InsertCard(int index) override {
    std::lock_guard<std::mutex> lock(controlMu_);
    const auto card = SimDriver::Instance().CardAt(index);
    if (!card || card->Present()) return;
    card->Insert();
    vw32::AddDeviceInterface(VTX_INTERFACE_CLASS, SimDriver::DevicePath(index).c_str(), SPINT_ACTIVE);
    hotPlug_->Added();
  }

  std::wstring DevicePath(int index) const override { return SimDriver::DevicePath(index); }

  void SetCameraConnected(bool connected) override {
    SetCamera([&](CameraSettings& c) { c.connected = connected; });
  }
  void SetVideoMode(VideoMode mode) override {
    SetCamera([&](CameraSettings& c) { c.mode = mode; });
  }
  void SetSignalPresent(bool present) override {
    SetCamera([&](CameraSettings& c) { c.signal = present; });
  }
  void SetPacing(Pacing pacing) override {
    SetCamera([&](CameraSettings& c) { c.pacing = pacing; });
  }
  void SetMeasuredFps(int fps) override {
    SetCamera([&](CameraSettings& c) { c.measuredFps = fps; });
  }
  void SetRegister34(int value) override {
    SetCamera([&](CameraSettings& c) { c.register34 = value; });
  }
  void InjectDmaError(uint32_t status, int count) override {
    std::lock_guard<std::mutex> lock(controlMu_);
    for (const auto& card : SimDriver::Instance().Cards()) card->InjectDmaError(status, count);
  }
  void FailRequest(uint32_t code, uint32_t result) override {
    std::lock_guard<std::mutex> lock(controlMu_);
    failures_[code] = result;
    for (const auto& card : SimDriver::Instance().Cards()) card->FailRequest(code, result);
  }

  Counters GetCounters() const override {
    Counters sum;
    for (const auto& card : SimDriver::Instance().Cards()) {
      const Counters c = card->GetCounters();
      sum.framesDelivered += c.framesDelivered;
      sum.framesDropped += c.framesDropped;
      sum.dmaErrors += c.dmaErrors;
      if (c.accessMask) sum.accessMask = c.accessMask;
      sum.openSessions += c.openSessions;
      sum.prepareCount += c.prepareCount;
      sum.unlockCount += c.unlockCount;
      sum.framesCaptured += c.framesCaptured;
      sum.pendingRequests += c.pendingRequests;
    }
    return sum;
  }

  Counters GetCardCounters(int index) const override {
    const auto card = SimDriver::Instance().CardAt(index);
    return card ? card->GetCounters() : Counters{};
  }

 private:
  // Settings are for all cards, those added later included.
  template <typename Change>
  void SetCamera(Change change) {
    std::lock_guard<std::mutex> lock(controlMu_);
    change(camera_);
    for (const auto& card : SimDriver::Instance().Cards()) card->SetCamera(camera_);
  }

  void ApplySettings(Card& card) {
    card.SetCamera(camera_);
    for (const auto& [code, result] : failures_) card.FailRequest(code, result);
  }

  std::mutex controlMu_;  // one control call at a time
  const std::shared_ptr<HotPlugEvents> hotPlug_;
  CameraSettings camera_;
  std::map<uint32_t, uint32_t> failures_;
};

std::mutex instanceMu;
SimulatorImpl* instance = nullptr;

}  // namespace

Simulator& Simulator::Start(int cards) {
  std::lock_guard<std::mutex> lock(instanceMu);
  if (!instance) instance = new SimulatorImpl(cards);
  return *instance;
}

void Simulator::Stop() {
  std::lock_guard<std::mutex> lock(instanceMu);
  if (!instance) return;
  instance->Shutdown();
  delete instance;
  instance = nullptr;
}

Simulator* Simulator::Instance() {
  std::lock_guard<std::mutex> lock(instanceMu);
  return instance;
}

}  // namespace vsim
