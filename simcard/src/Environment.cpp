// VANTREL_SIMCARD: parsing the variable and starting the simulator from it.
#include "Environment.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vsim {
namespace {

constexpr int kMaxCards = 8;

std::string ModeNames() {
  std::string names;
  for (const ModeInfo& info : AllModes()) names += (names.empty() ? "" : ", ") + std::string(info.name);
  return names;
}

std::string ParseCards(const std::string& text, int* cards) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 1 || n > kMaxCards)
    return "cards must be a number from 1 to " + std::to_string(kMaxCards) + ", not \"" + text + "\"";
  *cards = static_cast<int>(n);
  return {};
}

// One key=value item (a bare mode name has no key).
std::string ParseItem(const std::string& key, const std::string& text, EnvironmentSetting* s) {
  if (key == "mode") {
    return ParseMode(text, &s->mode) ? "" : "unknown mode \"" + text + "\" (modes: " + ModeNames() + ")";
  }
  if (key == "cards") return ParseCards(text, &s->cards);
  if (key == "pacing") {
    if (text != "realtime" && text != "free") return "pacing must be realtime or free, not \"" + text + "\"";
    s->pacing = text == "free" ? Pacing::FreeRunning : Pacing::RealTime;
    return {};
  }
  if (key == "camera") {
    if (text != "on" && text != "off") return "camera must be on or off, not \"" + text + "\"";
    s->camera = text == "on";
    return {};
  }
  return "unknown item \"" + key + "\" (items: mode, cards, pacing, camera)";
}

}  // namespace

std::string ParseSimCardVariable(const std::string& value, EnvironmentSetting* setting) {
  EnvironmentSetting parsed;
  std::istringstream items(value);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) return "an empty item";
    const size_t equals = item.find('=');
    const std::string key = equals == std::string::npos ? "mode" : item.substr(0, equals);
    const std::string error = ParseItem(key, item.substr(equals == std::string::npos ? 0 : equals + 1), &parsed);
    if (!error.empty()) return error;
  }
  if (value.empty() || value.back() == ',') return "an empty item";  // getline yields no last empty item
  *setting = parsed;
  return {};
}

bool StartFromVariable(const char* value) {
  if (!value || !*value || Simulator::Instance()) return false;
  EnvironmentSetting setting;
  const std::string error = ParseSimCardVariable(value, &setting);
  if (!error.empty()) {
    std::fprintf(stderr, "VANTREL_SIMCARD=%s: %s; no simulated card\n", value, error.c_str());
    return false;
  }
  Simulator& simulator = Simulator::Start(setting.cards);
  simulator.SetVideoMode(setting.mode);
  simulator.SetPacing(setting.pacing);
  simulator.SetCameraConnected(setting.camera);
  // Before the layer's own clean-up, so that the card's threads are gone by then.
  std::atexit(Simulator::Stop);
  return true;
}

}  // namespace vsim
