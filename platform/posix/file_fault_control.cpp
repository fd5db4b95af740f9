#include "platform/file_fault_control.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::file_fault {

std::string ReadVariable() {
  const char* value = std::getenv(kVariable);
  return value ? value : "";
}

void WriteVariable(const std::string& value) {
  if (value.empty()) unsetenv(kVariable);
  else setenv(kVariable, value.c_str(), 1);
}

void* MapControlFile(const std::string& path, const void* initial, size_t size) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  void* view = nullptr;
  struct stat st {};
  // The lock keeps a second module from mapping the file while the first fills it.
  if (flock(fd, LOCK_EX) == 0 && fstat(fd, &st) == 0) {
    bool fresh = static_cast<size_t>(st.st_size) < size;
    if (!fresh || ftruncate(fd, static_cast<off_t>(size)) == 0) {
      view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (view == MAP_FAILED) view = nullptr;
      if (view && fresh) std::memcpy(view, initial, size);
    }
    flock(fd, LOCK_UN);
  }
  close(fd);
  return view;
}

void UnmapControlFile(void* view, size_t size) {
  if (view) munmap(view, size);
}

}  // namespace platform::file_fault
