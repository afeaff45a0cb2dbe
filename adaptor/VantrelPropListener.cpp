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
  // The row is applied at once, also while an acquisition runs: the grab
  // thread may already see the new format before the suspend below. Each
  // frame is still whole, as the callback reads "Format" once per frame and
  // delivers a frame only with the type of the layout it decoded.
  if (isFormat) adaptor->applyFormat(intValue);
  IAdaptorManager* manager = adaptor->manager();
  if (!manager->isAcquisitionBusy() || !isFormat) return;
  // While busy the row is applied a second time between suspend and resume:
  // the engine wants no frames meanwhile, and the resume begins capture
  // again, so that the new layout reaches the card.
  manager->suspendAcquisition();
  adaptor->applyFormat(intValue);
  manager->resumeAcquisition();
}
