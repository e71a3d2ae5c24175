// Where libjpeg keeps the coefficients of a whole picture: in our large buffers.
#pragma once

#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace tz::jpegcodec {

// Files of several scans (progressive ones) are decoded through arrays holding every block's
// coefficients. The library would take them from malloc, a 4 KB page fault at a time on first
// touch; for a photograph that is tens of megabytes, and on machines whose page faults are slow
// it costs as much as the decoding. The library's memory manager lets an application replace
// its methods, so these arrays come from huge-page buffers instead.
class CoefficientStore {
  public:
    CoefficientStore();
    ~CoefficientStore();
    CoefficientStore(const CoefficientStore&) = delete;
    CoefficientStore& operator=(const CoefficientStore&) = delete;

    // Takes over the block-array methods of a newly created library object, whose client_data
    // then points here; the object must be destroyed before this store.
    void install(j_common_ptr cinfo);

  private:
    struct Array;

    static jvirt_barray_ptr request(j_common_ptr cinfo, int pool, boolean preZero,
                                    JDIMENSION blocksPerRow, JDIMENSION rows, JDIMENSION maxAccess);
    static void realize(j_common_ptr cinfo);
    static JBLOCKARRAY access(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION firstRow,
                              JDIMENSION rows, boolean writable);
    static void freePool(j_common_ptr cinfo, int pool);

    // These report failure by result: the library's error exit leaves by longjmp, which must
    // not pass frames owning C++ objects.
    Array* add(int pool, bool preZero, JDIMENSION blocksPerRow, JDIMENSION rows) noexcept;
    bool allocateAll() noexcept;

    std::vector<std::unique_ptr<Array>> m_arrays;
    void (*m_libraryRealize)(j_common_ptr) = nullptr;
    void (*m_libraryFreePool)(j_common_ptr, int) = nullptr;
};

}  // namespace tz::jpegcodec
