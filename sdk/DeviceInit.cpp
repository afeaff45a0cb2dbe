// Device enumeration: the card's present device interfaces, probed one by
// one, kept as enumeration records; ORNSDI_Init opens the first card that
// accepts a session.
#include "DeviceInit.h"

#include <cstring>
#include <new>

#include "ORNSDI_GIS.h"
#include "ORNSDI_Log.h"

namespace {

constexpr const char* kModule = "DeviceEnumerator";
constexpr const wchar_t* kSource = L".\\DeviceInit";
const LogSite kGetSlotInfo = {kModule, ORNSDI_LIBRARY, kSource, "noexp_ORNSDI_GetSlotInfo"};
const LogSite kConstruct = {kModule, ORNSDI_LIBRARY, kSource, "CDeviceEnumerator::CDeviceEnumerator"};
const LogSite kEnumerate = {kModule, ORNSDI_LIBRARY, kSource, "CDeviceEnumerator::EnumerateDevice"};
const LogSite kEnumNext = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_EnumNext"};
const LogSite kInit = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_Init"};
const LogSite kEnumOpen = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_EnumOpen"};
const LogSite kEnumClose = {kModule, ORNSDI_LIBRARY, kSource, "ORNSDI_EnumClose"};

constexpr size_t kSlotNameUnits = sizeof(VtxSlotInfoOut::slotName) / sizeof(uint16_t);

// The driver's UTF-16 text, up to its zero unit, as wchar_t characters with
// a terminator; returns the characters written. Where wchar_t is two bytes
// this is a plain copy; elsewhere surrogate pairs become one character.
size_t Utf16ToWide(const uint16_t* units, size_t count, wchar_t* out) {
  size_t written = 0;
  for (size_t i = 0; i < count && units[i] != 0; ++i) {
    uint32_t code = units[i];
    if constexpr (sizeof(wchar_t) == 4) {
      bool high = code >= 0xD800 && code < 0xDC00;
      if (high && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
        code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    out[written++] = wchar_t(code);
  }
  out[written] = 0;
  return written;
}

HANDLE OpenProbe(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void FreeRecord(ORNSDI_EnumData* record) {
  delete[] static_cast<BYTE*>(record->detailBlock);
  delete[] record->slotName;
  delete record;
}

}  // namespace

DWORD noexp_ORNSDI_GetSlotInfo(HANDLE probe, DWORD* pSlotNumber, wchar_t* text, DWORD* pTextSize) {
  BYTE input[sizeof(VtxRequestHeader)] = {};
  VtxSlotInfoOut reply{};
  DWORD bytes = 0;
  if (!DeviceIoControl(probe, VtxCTL_GET_SLOT_INFO, input, sizeof input, &reply, sizeof reply, &bytes, nullptr)) {
    DWORD error = GetLastError();
    ORNSDI_LOG(kGetSlotInfo, LOG_ERROR, ORNSDI_CODE_IOCT,
               L"First chanceDeviceIOCtl(VtxCTL_GET_SLOT_INFO) failed. ErrorCode=%d(0x%08X).", error, error);
    return ORNSDI_ERR_FAILED;
  }
  uint16_t units[kSlotNameUnits];
  std::memcpy(units, &reply.slotName, sizeof units);
  wchar_t name[kSlotNameUnits + 1];
  DWORD needed = DWORD(Utf16ToWide(units, kSlotNameUnits, name)) + 1;
  DWORD result = ORNSDI_OK;
  if (pTextSize) {
    if (*pTextSize >= needed && text)
      std::memcpy(text, name, needed * sizeof(wchar_t));
    else
      result = ORNSDI_ERR_ARGUMENT;
    *pTextSize = needed;
  }
  if (pSlotNumber) *pSlotNumber = reply.slotNumber;
  return result;
}

CDeviceEnumerator::CDeviceEnumerator() {
  EnumerateDevice(VTX_INTERFACE_CLASS, noexp_ORNSDI_GetSlotInfo);
  status_ = ORNSDI_OK;
  if (records_.empty()) {
    status_ = ORNSDI_NO_MORE_DEVICES;
    ORNSDI_LOG(kConstruct, LOG_WARNING, ORNSDI_NO_MORE_DEVICES, L"No devices present!");
  }
  cursor_ = 0;
}

CDeviceEnumerator::~CDeviceEnumerator() {
  for (ORNSDI_EnumData* record : records_) FreeRecord(record);
}

void CDeviceEnumerator::EnumerateDevice(const GUID& interfaceClass, SlotInfoQuery query) {
  HDEVINFO set = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    Failed(error);
    ORNSDI_LOG(kEnumerate, LOG_ERROR, ORNSDI_ERR_FAILED, L"SetupDiGetClassDevs failed: GetLastError=%d(0x%X)", error,
               error);
    return;
  }
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, i, &data); ++i) {
    if (data.Flags & SPINT_ACTIVE) AddInterface(set, &data, i, query);
  }
  SetupDiDestroyDeviceInfoList(set);
}

void CDeviceEnumerator::AddInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, DWORD index,
                                     SlotInfoQuery query) {
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &size, nullptr);
  BYTE* block = size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ? new (std::nothrow) BYTE[size]() : nullptr;
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block);
  if (detail) detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!detail || !SetupDiGetDeviceInterfaceDetailW(set, data, detail, size, nullptr, nullptr)) {
    DWORD error = detail ? GetLastError() : DWORD(ERROR_NOT_ENOUGH_MEMORY);
    Failed(error);
    ORNSDI_LOG(kEnumerate, LOG_WARNING, ORNSDI_ERR_FAILED,
               L"%d: SetupDiGetDeviceInterfaceDetail failed: GetLastError=%d(0x%X)", index, error, error);
    delete[] block;
    return;
  }
  detail->cbSize = size;
  HANDLE probe = OpenProbe(detail->DevicePath);
  if (probe == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    Failed(error);
    ORNSDI_LOG(kEnumerate, LOG_WARNING, ORNSDI_ERR_FAILED, L"%d CreateFile(%s) failed: GetLastError=%d(0x%X)",
               index, detail->DevicePath, error, error);
    delete[] block;
    return;
  }
  DWORD textSize = 0;
  DWORD slotNumber = 0;
  query(probe, nullptr, nullptr, &textSize);
  wchar_t* text = textSize ? new (std::nothrow) wchar_t[textSize]() : nullptr;
  if (query(probe, &slotNumber, text, &textSize) != ORNSDI_OK) {
    // A name that did not arrive is not kept half-written.
    delete[] text;
    text = nullptr;
  }
  CloseHandle(probe);
  auto* record = new (std::nothrow) ORNSDI_EnumData{sizeof(ORNSDI_EnumData), slotNumber, block, text};
  if (!record) {
    delete[] block;
    delete[] text;
    return;
  }
  try {
    records_.push_back(record);
  } catch (const std::bad_alloc&) {
    FreeRecord(record);
  }
}

const ORNSDI_EnumData* CDeviceEnumerator::Next() {
  return cursor_ < records_.size() ? records_[cursor_++] : nullptr;
}

uint32_t ORNSDI_EnumNext(ORNSDI_ENUM_HANDLE hDevEnum, ORNSDI_EnumData* pEnumData) {
  ORNSDI_REQUIRE(kEnumNext, hDevEnum, L"hDevEnum is NULL");
  ORNSDI_REQUIRE(kEnumNext, pEnumData, L"pEnumData is NULL");
  if (pEnumData->size < sizeof(ORNSDI_EnumData)) return ORNSDI_ERR_ARGUMENT;
  const ORNSDI_EnumData* record = static_cast<CDeviceEnumerator*>(hDevEnum)->Next();
  if (!record) return ORNSDI_NO_MORE_DEVICES;
  *pEnumData = *record;
  return ORNSDI_OK;
}

ORNSDI_HANDLE ORNSDI_Init(void) {
  auto* enumerator = new (std::nothrow) CDeviceEnumerator();
  if (!enumerator) return nullptr;
  if (enumerator->Status() != ORNSDI_OK) {
    delete enumerator;
    return nullptr;
  }
  for (;;) {
    ORNSDI_EnumData record{};
    record.size = sizeof record;
    if (ORNSDI_EnumNext(enumerator, &record) != ORNSDI_OK) break;
    ORNSDI_HANDLE session = ORNSDI_InitByHandle(record.detailBlock);
    if (session) {
      delete enumerator;
      return session;
    }
  }
  ORNSDI_LOG(kInit, LOG_ERROR, 0, L"No device left");
  delete enumerator;
  return nullptr;
}

uint32_t ORNSDI_EnumOpen(ORNSDI_ENUM_HANDLE* phDevEnum) {
  ORNSDI_REQUIRE(kEnumOpen, phDevEnum, L"phDevEnum is NULL");
  *phDevEnum = nullptr;
  auto* enumerator = new (std::nothrow) CDeviceEnumerator();
  if (!enumerator) return ORNSDI_ERR_MEMORY;
  DWORD status = enumerator->Status();
  if (status != ORNSDI_OK) {
    delete enumerator;
    return status;
  }
  *phDevEnum = enumerator;
  return ORNSDI_OK;
}

uint32_t ORNSDI_EnumClose(ORNSDI_ENUM_HANDLE hDevEnum) {
  ORNSDI_REQUIRE(kEnumClose, hDevEnum, L"hDevEnum is NULL");
  delete static_cast<CDeviceEnumerator*>(hDevEnum);
  return ORNSDI_OK;
}
