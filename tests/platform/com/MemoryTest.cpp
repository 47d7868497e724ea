#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/com/Memory.h"

namespace com {
namespace {

TEST(TaskAllocator, CountsLiveBlocksThroughAllocReallocAndFree) {
  std::size_t before = TaskMemOutstanding();
  void* a = CoTaskMemAlloc(16);
  void* empty = CoTaskMemAlloc(0);  // a real block, not null
  ASSERT_NE(a, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(TaskMemOutstanding(), before + 2);

  std::memcpy(a, "0123456789abcdef", 16);
  void* grown = CoTaskMemRealloc(a, 4096);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(std::memcmp(grown, "0123456789abcdef", 16), 0);
  EXPECT_EQ(TaskMemOutstanding(), before + 2);

  EXPECT_EQ(CoTaskMemRealloc(grown, 0), nullptr);  // frees
  CoTaskMemFree(empty);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(TaskMemOutstanding(), before);

  void* fresh = CoTaskMemRealloc(nullptr, 8);  // allocates
  EXPECT_EQ(TaskMemOutstanding(), before + 1);
  CoTaskMemFree(fresh);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(TaskAllocator, IgnoresPointersItDidNotHandOut) {
  std::size_t before = TaskMemOutstanding();
  void* foreign = std::malloc(8);
  void* block = CoTaskMemAlloc(8);
  CoTaskMemFree(foreign);  // reported, not freed
  EXPECT_EQ(CoTaskMemRealloc(foreign, 32), nullptr);
  CoTaskMemFree(block);
  CoTaskMemFree(block);  // a second free is reported, not a heap corruption
  EXPECT_EQ(TaskMemOutstanding(), before);
  std::free(foreign);  // still ours to free
}

TEST(TaskAllocator, IMallocKnowsItsBlocks) {
  IMalloc* malloc = nullptr;
  ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &malloc), S_OK);
  ASSERT_NE(malloc, nullptr);
  IMalloc* second = nullptr;
  ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &second), S_OK);
  EXPECT_EQ(second, malloc);  // one allocator per process
  second->Release();

  void* p = malloc->Alloc(24);
  EXPECT_EQ(malloc->GetSize(p), 24u);
  EXPECT_EQ(malloc->DidAlloc(p), 1);
  int local = 0;
  EXPECT_EQ(malloc->DidAlloc(&local), 0);
  EXPECT_EQ(malloc->GetSize(nullptr), static_cast<std::size_t>(-1));
  p = malloc->Realloc(p, 40);
  EXPECT_EQ(malloc->GetSize(p), 40u);
  CoTaskMemFree(p);  // blocks from IMalloc and CoTaskMem* are interchangeable

  IUnknown* unknown = nullptr;
  EXPECT_EQ(malloc->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  unknown->Release();
  void* other = &local;
  EXPECT_EQ(malloc->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  malloc->Release();

  EXPECT_EQ(CoGetMalloc(0, &malloc), E_INVALIDARG);
  EXPECT_EQ(malloc, nullptr);
  EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, nullptr), E_INVALIDARG);
}

TEST(TaskAllocator, StrDupCopiesTheTerminator) {
  std::size_t before = TaskMemOutstanding();
  LPWSTR copy = CoTaskMemStrDup(u"Tag");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::u16string(copy), u"Tag");
  EXPECT_EQ(copy[3], 0);
  CoTaskMemFree(copy);
  EXPECT_EQ(CoTaskMemStrDup(nullptr), nullptr);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

}  // namespace
}  // namespace com
