#include "VantrelPropListener.h"

#include "VantrelAdaptor.h"

#include <cstring>

namespace {

constexpr const char* kFormatProperty = "Format";

}  // namespace

void VantrelPropListener::propertyWasSet(const IPropertyInfo* info, const void* value) {
  if (value == nullptr || info == nullptr) return;
  propertyInfo = info;
  switch (info->storageType()) {
    case IMAQ_STORAGE_TEXT:
      textValue = static_cast<const char*>(value);
      break;
    case IMAQ_STORAGE_INT64:
      wideValue = *static_cast<const std::int64_t*>(value);
      break;
    case IMAQ_STORAGE_INT32:
      intValue = *static_cast<const std::int32_t*>(value);
      break;
    default:
      break;
  }
  applySetting();
}

void VantrelPropListener::applySetting() {
  const char* name = propertyInfo != nullptr ? propertyInfo->propertyName() : nullptr;
  const bool isFormat = name != nullptr && std::strcmp(name, kFormatProperty) == 0;
  if (isFormat) adaptor->applyFormat(intValue);
  IAdaptorManager* manager = adaptor->manager();
  if (!manager->isAcquisitionBusy() || !isFormat) return;
  // While an acquisition runs the change is bracketed, so that no frame is
  // handed over half-way between the two layouts.
  manager->suspendAcquisition();
  adaptor->applyFormat(intValue);
  manager->resumeAcquisition();
}
