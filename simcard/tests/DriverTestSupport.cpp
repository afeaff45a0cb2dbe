#include "DriverTestSupport.h"

namespace simtest {

std::vector<std::wstring> ListCards() {
  std::vector<std::wstring> paths;
  HDEVINFO set = SetupDiGetClassDevsW(&VTX_INTERFACE_CLASS, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &VTX_INTERFACE_CLASS, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    std::vector<uint8_t> block(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
    paths.emplace_back(detail->DevicePath);
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

HANDLE OpenDevice(const std::wstring& path, bool overlapped) {
  const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (overlapped ? FILE_FLAG_OVERLAPPED : 0);
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, attributes, nullptr);
}

Async::Async(HANDLE device, DWORD code, std::vector<uint8_t> input, void* output, DWORD outputSize)
    : device_(device), input_(std::move(input)) {
  ov_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const BOOL done = DeviceIoControl(device, code, input_.empty() ? nullptr : input_.data(),
                                    static_cast<DWORD>(input_.size()), output, outputSize, nullptr, &ov_);
  const DWORD error = done ? 0 : GetLastError();
  // A request the driver keeps is started as well as one it completed at once.
  started_ = error == 0 || error == ERROR_IO_PENDING;
  startError_ = started_ ? 0 : error;
}

Async::~Async() {
  DWORD bytes;
  if (started_) GetOverlappedResult(device_, &ov_, &bytes, TRUE);
  CloseHandle(ov_.hEvent);
}

DWORD Async::Wait(DWORD* bytes) {
  DWORD n = 0;
  const DWORD error = !started_ ? startError_ : GetOverlappedResult(device_, &ov_, &n, TRUE) ? 0 : GetLastError();
  if (bytes) *bytes = n;
  return error;
}

std::vector<uint8_t> Header(uint32_t sessionId, const void* extra, size_t extraSize) {
  std::vector<uint8_t> in(5 + extraSize, 0);
  std::memcpy(in.data() + 1, &sessionId, 4);
  if (extraSize) std::memcpy(in.data() + 5, extra, extraSize);
  return in;
}

Session::Session(int index) {
  device_ = OpenDevice(vsim::Simulator::Instance()->DevicePath(index), true);
  EXPECT_NE(device_, INVALID_HANDLE_VALUE);
  VtxOpenSessionOut out;
  EXPECT_EQ(Request(VTXCTL_OPEN_SESSION, &out), 0u);
  id_ = out.sessionId;
  sessionWait = std::make_unique<Async>(device_, VTXCTL_SESSION_WAIT, Header(id_), &waitReply_, sizeof waitReply_);
}

Session::~Session() {
  CancelIo(device_);
  sessionWait.reset();
  ring.clear();
  if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
}

uint32_t Session::Prepare(uint8_t pixelFormat, uint8_t interlaced, uint8_t fieldMode) {
  const uint8_t in[9] = {pixelFormat, interlaced, fieldMode, 0, 0, 1, 0, 0, 0};
  VtxDmaPrepareOut out;
  const uint32_t result = Request(VTXCTL_DMA_PREPARE, &out, in, sizeof in);
  if (result == 0) bufferSize_ = out.bufferSize;
  return result;
}

bool Session::Ready(uint8_t pixelFormat, uint8_t interlaced, uint8_t fieldMode, int count, bool start) {
  if (TakeAccess() != 0 || Prepare(pixelFormat, interlaced, fieldMode) != 0) return false;
  block_.assign(static_cast<size_t>(count) * bufferSize_, 0);
  descriptors_.assign(count, VtxDmaBufferData{});
  for (int i = 0; i < count; ++i) {
    descriptors_[i].bufferAddress = reinterpret_cast<uint64_t>(Buffer(i));
    ring.push_back(std::make_unique<Async>(device_, VTXCTL_DMA_QUEUE_BUFFER, std::vector<uint8_t>{},
                                            const_cast<uint8_t*>(Buffer(i)), bufferSize_));
  }
  ring.push_back(std::make_unique<Async>(device_, VTXCTL_DMA_QUEUE_BUFFER_DATA, std::vector<uint8_t>{},
                                          descriptors_.data(), DWORD(count * sizeof(VtxDmaBufferData))));
  return !start || Start() == 0;
}

std::unique_ptr<Async> Session::LockAsync(VtxLockBufferOut* out) {
  std::memset(out, 0xEE, sizeof *out);
  return std::make_unique<Async>(device_, VTXCTL_DMA_LOCK_BUFFER, Header(id_), out, sizeof *out);
}

DWORD Session::LockFrame(VtxLockBufferOut* out) {
  DWORD bytes = 0;
  const DWORD error = LockAsync(out)->Wait(&bytes);
  EXPECT_EQ(error ? sizeof *out : bytes, sizeof *out);
  return error;
}

}  // namespace simtest
