// The source list, trigger list and property builder that
// getDeviceAttributes fills.
#include "Misuse.h"

namespace imaqhost {

void SourceList::addSource(const char* name, int id) {
  sources_.push_back({textOrFail(name, "addSource"), id});
}

void TriggerList::addTriggerConfiguration(const char* source, int sourceId, const char* condition,
                                          int conditionId) {
  configurations_.push_back({textOrFail(source, "addTriggerConfiguration"), sourceId,
                             textOrFail(condition, "addTriggerConfiguration"), conditionId});
}

IPropertyDefinition* PropertyBuilder::newEnumProperty(const char* name, const char* firstValue,
                                                      int id) {
  std::string value = textOrFail(firstValue, "newEnumProperty");
  PropertyRecord* property = add(name, true);
  property->values.push_back({std::move(value), id});
  return property;
}

IPropertyDefinition* PropertyBuilder::newNamedProperty(const char* name) { return add(name, false); }

void PropertyBuilder::appendEnumValue(IPropertyDefinition* property, const char* name, int id) {
  PropertyRecord* record = own(property);
  const std::string value = textOrFail(name, "appendEnumValue");
  if (!record->enumerated) misuse("appendEnumValue: \"" + record->name + "\" is not enumerated");
  for (const EnumValue& known : record->values)
    if (known.name == value)
      misuse("appendEnumValue: \"" + record->name + "\" already has the value \"" + value + "\"");
  record->values.push_back({value, id});
}

void PropertyBuilder::publishProperty(IPropertyDefinition* property) { own(property)->published = true; }

void PropertyBuilder::setReadOnlyMode(IPropertyDefinition* property, const char* mode) {
  own(property)->readOnlyMode = textOrFail(mode, "setReadOnlyMode");
}

void PropertyBuilder::markProperty(IPropertyDefinition* property, int mark) {
  own(property)->mark = mark;
}

PropertyRecord* PropertyBuilder::add(const char* name, bool enumerated) {
  const std::string text = textOrFail(name, "property");
  for (const auto& known : properties_)
    if (known->name == text) misuse("property \"" + text + "\" declared twice");
  auto record = std::make_unique<PropertyRecord>();
  record->name = text;
  record->enumerated = enumerated;
  properties_.push_back(std::move(record));
  return properties_.back().get();
}

PropertyRecord* PropertyBuilder::own(IPropertyDefinition* property) const {
  for (const auto& known : properties_)
    if (known.get() == property) return known.get();
  misuse("the property was not made by this builder");
}

}  // namespace imaqhost
