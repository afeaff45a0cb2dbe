// Finding the cards: the present device interfaces of the card's class,
// each probed with a short open and the slot-info request.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <vector>

#include "ORNSDI.h"

// The slot-info query of a probed device: slot number, and the slot name
// with its size in characters (terminator included) in and out.
using SlotInfoQuery = DWORD (*)(HANDLE probe, DWORD* pSlotNumber, wchar_t* text, DWORD* pTextSize);

DWORD noexp_ORNSDI_GetSlotInfo(HANDLE probe, DWORD* pSlotNumber, wchar_t* text, DWORD* pTextSize);

class CDeviceEnumerator {
 public:
  // Lists the cards at once; Status() is 0 when at least one was kept,
  // ORNSDI_NO_MORE_DEVICES when none was.
  CDeviceEnumerator();
  virtual ~CDeviceEnumerator();
  CDeviceEnumerator(const CDeviceEnumerator&) = delete;
  CDeviceEnumerator& operator=(const CDeviceEnumerator&) = delete;

  void EnumerateDevice(const GUID& interfaceClass, SlotInfoQuery query);
  // The next stored record, or null after the last one.
  const ORNSDI_EnumData* Next();
  DWORD Status() const { return status_; }

 private:
  void AddInterface(HDEVINFO deviceInfoSet, SP_DEVICE_INTERFACE_DATA* interfaceData, DWORD index,
                    SlotInfoQuery query);
  void Failed(DWORD error) {
    lastError_ = error;
    status_ = ORNSDI_ERR_FAILED;
  }

  std::vector<ORNSDI_EnumData*> records_;
  size_t cursor_ = 0;
  DWORD lastError_ = 0;
  DWORD status_ = 0;
};
