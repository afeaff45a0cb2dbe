// Device-interface enumeration: the interfaces that drivers announced,
// listed by class as SetupAPI lists them, and the driver modules loaded
// before the first enumeration.
#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <setupapi.h>
#include <vwin32.h>

#include "Errors.h"
#include "Handles.h"
#include "Text.h"

using namespace vw32::detail;

namespace {

struct Interface {
  GUID interfaceClass;
  std::wstring path;
  DWORD flags;
};

struct Registry {
  std::mutex mutex;
  std::vector<Interface> interfaces;
};
Registry& Interfaces() {
  static auto* registry = new Registry;
  return *registry;
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// A device information set: the interfaces present when it was made.
class DevInfoObj : public Object {
 public:
  explicit DevInfoObj(std::vector<Interface> interfaces) : Object(Kind::DevInfo), interfaces(std::move(interfaces)) {}
  const std::vector<Interface> interfaces;
};

// The interface an SP_DEVICE_INTERFACE_DATA names: its Reserved field holds
// the position in the set plus one.
const Interface* Lookup(const DevInfoObj& set, const SP_DEVICE_INTERFACE_DATA* data) {
  if (!data || data->Reserved == 0 || data->Reserved > set.interfaces.size()) return nullptr;
  return &set.interfaces[data->Reserved - 1];
}

// Size of the detail data for a path: the cbSize field and the path with its
// terminator, never less than the fixed part.
DWORD DetailSize(const std::wstring& path) {
  DWORD size = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(WCHAR));
  return std::max<DWORD>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
}

// The folder of driver modules: "vwin32-drivers" beside libvwin32 itself,
// so that an installed layer finds the drivers installed with it.
std::string DriverFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&DriverFolder), &info) || !info.dli_fname) return {};
  std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/vwin32-drivers";
}

std::vector<std::string> DriverModules(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 3 && name.ends_with(".so")) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());  // a load order that does not depend on the file system
  return names;
}

// As the system loads its drivers before anyone enumerates devices: each
// module is loaded for good and its entry point called once, outside the
// dynamic loader's lock, so that it may start threads and register drivers.
void LoadDriverModules() {
  const std::string folder = DriverFolder();
  for (const std::string& name : DriverModules(folder)) {
    const std::string path = folder + "/" + name;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      OutputDebugStringA(("vwin32: driver module not loaded: " + std::string(dlerror()) + "\n").c_str());
      continue;
    }
    if (auto entry = reinterpret_cast<vw32::DriverEntry>(dlsym(module, VW32_DRIVER_ENTRY))) {
      entry();
    } else {
      OutputDebugStringA(("vwin32: " + path + " has no " VW32_DRIVER_ENTRY "\n").c_str());
    }
  }
}

}  // namespace

VW32_API HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR, HWND, DWORD Flags) {
  const bool allClasses = Flags & DIGCF_ALLCLASSES;
  if (!(Flags & DIGCF_DEVICEINTERFACE) || (!ClassGuid && !allClasses)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  static std::once_flag driversLoaded;
  std::call_once(driversLoaded, LoadDriverModules);
  std::vector<Interface> present;
  {
    auto& registry = Interfaces();
    std::lock_guard lock(registry.mutex);
    for (auto& entry : registry.interfaces) {
      if (!allClasses && !SameGuid(entry.interfaceClass, *ClassGuid)) continue;
      if ((Flags & DIGCF_PRESENT) && (entry.flags & SPINT_REMOVED)) continue;
      present.push_back(entry);
    }
  }
  SetLastError(ERROR_SUCCESS);
  return InsertHandle(std::make_shared<DevInfoObj>(std::move(present)));
}

VW32_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA, const GUID* InterfaceClassGuid,
                                                 DWORD MemberIndex, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  auto set = LookupAs<DevInfoObj>(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE);
  if (!DeviceInterfaceData || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
    return Fail(ERROR_INVALID_USER_BUFFER);
  if (!InterfaceClassGuid) return Fail(ERROR_INVALID_PARAMETER);
  DWORD index = 0;
  for (size_t i = 0; i < set->interfaces.size(); ++i) {
    const Interface& entry = set->interfaces[i];
    if (!SameGuid(entry.interfaceClass, *InterfaceClassGuid) || index++ != MemberIndex) continue;
    DeviceInterfaceData->InterfaceClassGuid = entry.interfaceClass;
    DeviceInterfaceData->Flags = entry.flags;
    DeviceInterfaceData->Reserved = i + 1;
    return TRUE;
  }
  return Fail(ERROR_NO_MORE_ITEMS);
}

VW32_API BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                                      PSP_DEVINFO_DATA DeviceInfoData) {
  auto set = LookupAs<DevInfoObj>(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE);
  const Interface* entry = Lookup(*set, DeviceInterfaceData);
  if (!entry) return Fail(ERROR_INVALID_PARAMETER);
  if (DeviceInterfaceDetailData ? DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                                : DeviceInterfaceDetailDataSize != 0)
    return Fail(ERROR_INVALID_USER_BUFFER);
  if (DeviceInfoData && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  const DWORD needed = DetailSize(entry->path);
  if (RequiredSize) *RequiredSize = needed;
  if (DeviceInterfaceDetailDataSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(DeviceInterfaceDetailData->DevicePath, entry->path.c_str(), (entry->path.size() + 1) * sizeof(WCHAR));
  if (DeviceInfoData) {
    DeviceInfoData->ClassGuid = entry->interfaceClass;
    DeviceInfoData->DevInst = DWORD(DeviceInterfaceData->Reserved);
    DeviceInfoData->Reserved = DeviceInterfaceData->Reserved;
  }
  return TRUE;
}

VW32_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (!RemoveHandle(DeviceInfoSet, false, Kind::DevInfo)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

namespace vw32 {

void AddDeviceInterface(const GUID& interfaceClass, const wchar_t* devicePath, DWORD flags) {
  auto& registry = Interfaces();
  std::lock_guard lock(registry.mutex);
  for (auto& entry : registry.interfaces) {
    if (SameGuid(entry.interfaceClass, interfaceClass) && EqualNoCase(entry.path, devicePath)) {
      entry.flags = flags;
      return;
    }
  }
  registry.interfaces.push_back({interfaceClass, devicePath, flags});
}

void RemoveDeviceInterface(const GUID& interfaceClass, const wchar_t* devicePath) {
  auto& registry = Interfaces();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.interfaces, [&](const Interface& entry) {
    return SameGuid(entry.interfaceClass, interfaceClass) && EqualNoCase(entry.path, devicePath);
  });
}

}  // namespace vw32
