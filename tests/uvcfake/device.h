// The fake camera's side of its file descriptors: what a UVC driver answers.
// The interposed C functions call in here for descriptors of fake nodes only.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace uvcfake
{

// The C library's own functions, bypassing the interposed ones.
int RealOpen(const char* path, int flags, mode_t mode);
int RealClose(int fd);
void* RealMmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset);

// True for files named video<N> in the folder VIZO_VIDEO_DEVICE_DIR names.
bool IsNodePath(const char* path);
// Descriptor `fd`, just opened on `path`, becomes a handle on the camera.
void Attach(int fd, const char* path);
// Forgets the handle; the camera stops streaming if it was this handle's.
void Detach(int fd);
// Cheap test for the common case of a descriptor that is not ours.
bool MaybeFake(int fd);
bool IsFake(int fd);

// Each returns -1 with errno set on failure, as the system calls do.
int Ioctl(int fd, unsigned long request, void* arg);
void* Mmap(void* addr, std::size_t length, int prot, int flags, int fd, off_t offset);
// Poll events of a fake handle; *waitNs is how long until they may change
// (capped, so an unplug is seen soon).
short PollEvents(int fd, short wanted, long long* waitNs);

} // namespace uvcfake
