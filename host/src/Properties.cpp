// The engine's property set: values checked against what the adaptor
// declared, read-only modes, and the adaptor's listeners called after a set.
#include "ImaqEngine.h"
#include "Misuse.h"
#include "ThreadRule.h"

#include <charconv>

namespace imaqhost {
namespace {

std::string quotedList(const std::vector<EnumValue>& values) {
  std::string list;
  for (const EnumValue& value : values) list += (list.empty() ? "\"" : ", \"") + value.name + "\"";
  return list;
}

[[noreturn]] void refuse(const char* identifier, const std::string& message) {
  throw HostError(identifier, message);
}

}  // namespace

struct PropertySet::Property final : public IPropertyInfo {
  std::string name;
  Kind kind = Kind::Integer;
  std::vector<EnumValue> values;  // enumerated
  std::string readOnlyMode;
  std::string text;  // the current value as text
  std::int32_t enumId = 0;
  std::int64_t integer = 0;
  std::vector<std::unique_ptr<IPropPostSetListener>> listeners;

  const char* propertyName() const override { return name.c_str(); }
  int storageType() const override {
    switch (kind) {
      case Kind::Enumerated: return IMAQ_STORAGE_INT32;  // the value's id
      case Kind::Integer: return IMAQ_STORAGE_INT64;
      case Kind::Text: return IMAQ_STORAGE_TEXT;
    }
    return 0;
  }
  // The value the listeners get: it points to the stored value.
  const void* value() const {
    switch (kind) {
      case Kind::Enumerated: return &enumId;
      case Kind::Integer: return &integer;
      case Kind::Text: return text.c_str();
    }
    return nullptr;
  }
  // Stores the value if it is one this property takes; false otherwise.
  bool store(const std::string& value) {
    if (kind == Kind::Text) {
      text = value;
      return true;
    }
    if (kind == Kind::Integer) {
      std::int64_t parsed = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
      if (error != std::errc() || end != value.data() + value.size() || value.empty() || parsed < 0) return false;
      integer = parsed;
      text = value;
      return true;
    }
    for (const EnumValue& known : values) {
      if (known.name != value) continue;
      enumId = known.id;
      text = value;
      return true;
    }
    return false;
  }
};

PropertySet::PropertySet() = default;
PropertySet::~PropertySet() = default;

void PropertySet::addProperty(const std::string& name, Kind kind, const std::string& initial,
                              const std::string& readOnlyMode) {
  auto property = std::make_unique<Property>();
  property->name = name;
  property->kind = kind;
  property->readOnlyMode = readOnlyMode;
  if (!property->store(initial)) misuse("property \"" + name + "\": initial value \"" + initial + "\"");
  properties_.push_back(std::move(property));
}

void PropertySet::addDeclared(const PropertyBuilder& declared) {
  for (const auto& record : declared.properties()) {
    if (!record->published) continue;
    if (!record->enumerated) {
      addProperty(record->name, Kind::Integer, "0", record->readOnlyMode);
      continue;
    }
    auto property = std::make_unique<Property>();
    property->name = record->name;
    property->kind = Kind::Enumerated;
    property->values = record->values;
    property->readOnlyMode = record->readOnlyMode;
    property->store(record->values.front().name);  // the first value is the initial one
    properties_.push_back(std::move(property));
  }
}

int PropertySet::propertyCount() const {
  checkEngineCall("propertyCount");
  return int(properties_.size());
}

void PropertySet::propertyNames(const char** names) const {
  checkEngineCall("propertyNames");
  for (std::size_t i = 0; i < properties_.size(); ++i) names[i] = properties_[i]->name.c_str();
}

void PropertySet::addListener(const char* name, IPropPostSetListener* listener) {
  checkEngineCall("addListener");
  std::unique_ptr<IPropPostSetListener> kept(listener);
  if (name == nullptr || listener == nullptr) misuse("addListener: no name or no listener");
  find(name).listeners.push_back(std::move(kept));
}

PropertySet::Property& PropertySet::find(const std::string& name) const {
  for (const auto& property : properties_)
    if (property->name == name) return *property;
  refuse(kUnknownProperty, "There is no property \"" + name + "\".");
}

void PropertySet::set(const std::string& name, const std::string& value, bool running) {
  Property& property = find(name);
  if (property.readOnlyMode == "always" || (running && property.readOnlyMode == "whileRunning"))
    refuse(kReadOnly, "\"" + name + "\" is read-only" + (running ? " while the acquisition is running." : "."));
  if (!property.store(value)) {
    std::string message = "\"" + value + "\" is not a valid value of \"" + name + "\".";
    message += property.kind == Kind::Enumerated ? " Valid values: " + quotedList(property.values) + "."
                                                 : " It takes a whole number, 0 or more.";
    refuse(kInvalidValue, message);
  }
  notify(name, property.value());
}

std::string PropertySet::get(const std::string& name) const { return find(name).text; }

std::vector<std::string> PropertySet::enumValues(const std::string& name) const {
  std::vector<std::string> names;
  for (const EnumValue& value : find(name).values) names.push_back(value.name);
  return names;
}

std::vector<IPropPostSetListener*> PropertySet::listenersOf(const std::string& name) const {
  std::vector<IPropPostSetListener*> listeners;
  for (const auto& listener : find(name).listeners) listeners.push_back(listener.get());
  return listeners;
}

const IPropertyInfo* PropertySet::infoOf(const std::string& name) const { return &find(name); }

void PropertySet::notify(const std::string& name, const void* value) const {
  const Property& property = find(name);
  for (const auto& listener : property.listeners) listener->propertyWasSet(&property, value);
}

void PropertySet::releaseListeners() {
  for (const auto& property : properties_) property->listeners.clear();
}

}  // namespace imaqhost
