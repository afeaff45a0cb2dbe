// The listener the adaptor registers for every engine property: it keeps the
// latest notice and applies "Format" to the adaptor.
#pragma once

#include "imaqkit.h"

#include <cstdint>

class VantrelAdaptor;

class VantrelPropListener : public IPropPostSetListener {
 public:
  explicit VantrelPropListener(VantrelAdaptor* adaptor) : adaptor(adaptor) {}

  void propertyWasSet(const IPropertyInfo* info, const void* value) override;
  void applySetting() override;

 private:
  VantrelAdaptor* adaptor;
  const IPropertyInfo* propertyInfo = nullptr;
  std::int32_t intValue = 0;     // storage type 4, also an enumerated value's id
  std::int64_t wideValue = 0;    // storage type 2
  const char* textValue = nullptr;  // storage type 1: the engine's pointer, not a copy
};
