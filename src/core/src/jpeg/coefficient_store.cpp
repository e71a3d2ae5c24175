// Whole-picture coefficient arrays in huge-page buffers, through the library's memory manager.
#include "jpeg/coefficient_store.h"

#include <algorithm>
#include <cstring>

#include <jerror.h>

#include "tz/byte_buffer.h"

namespace tz::jpegcodec {

struct CoefficientStore::Array {
    int pool;
    bool preZero;
    JDIMENSION blocksPerRow;
    JDIMENSION rows;
    ByteBuffer storage;  // empty until the library realizes its arrays
    std::vector<JBLOCKROW> rowStarts;
};

CoefficientStore::CoefficientStore() = default;
CoefficientStore::~CoefficientStore() = default;

void CoefficientStore::install(j_common_ptr cinfo) {
    cinfo->client_data = this;
    jpeg_memory_mgr& memory = *cinfo->mem;
    m_libraryRealize = memory.realize_virt_arrays;
    m_libraryFreePool = memory.free_pool;
    memory.request_virt_barray = request;
    memory.realize_virt_arrays = realize;
    memory.access_virt_barray = access;
    memory.free_pool = freePool;
}

CoefficientStore::Array* CoefficientStore::add(int pool, bool preZero, JDIMENSION blocksPerRow,
                                               JDIMENSION rows) noexcept {
    try {
        m_arrays.push_back(
            std::make_unique<Array>(Array{pool, preZero, blocksPerRow, rows, {}, {}}));
        return m_arrays.back().get();
    } catch (...) {
        return nullptr;
    }
}

bool CoefficientStore::allocateAll() noexcept {
    try {
        for (const auto& array : m_arrays) {
            if (!array->storage.empty() || array->rows == 0 || array->blocksPerRow == 0) {
                continue;
            }
            const std::size_t rowBytes = std::size_t{array->blocksPerRow} * sizeof(JBLOCK);
            array->storage.reserve(shortLivedCapacity(rowBytes * array->rows));
            if (array->preZero) {
                array->storage.assign(rowBytes * array->rows, 0);
            } else {
                array->storage.resize(rowBytes * array->rows);
            }
            array->rowStarts.resize(array->rows);
            for (JDIMENSION row = 0; row < array->rows; ++row) {
                array->rowStarts[row] =
                    reinterpret_cast<JBLOCKROW>(array->storage.data() + row * rowBytes);
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

jvirt_barray_ptr CoefficientStore::request(j_common_ptr cinfo, int pool, boolean preZero,
                                           JDIMENSION blocksPerRow, JDIMENSION rows,
                                           JDIMENSION /*maxAccess: every row is in memory*/) {
    auto* store = static_cast<CoefficientStore*>(cinfo->client_data);
    Array* array = store->add(pool, preZero != 0, blocksPerRow, rows);
    if (array == nullptr) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
    }
    return reinterpret_cast<jvirt_barray_ptr>(array);
}

void CoefficientStore::realize(j_common_ptr cinfo) {
    auto* store = static_cast<CoefficientStore*>(cinfo->client_data);
    store->m_libraryRealize(cinfo);  // the library's own sample arrays
    if (!store->allocateAll()) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
    }
}

JBLOCKARRAY CoefficientStore::access(j_common_ptr cinfo, jvirt_barray_ptr handle,
                                     JDIMENSION firstRow, JDIMENSION rows, boolean /*writable*/) {
    auto* array = reinterpret_cast<Array*>(handle);
    if (array->rowStarts.empty() || firstRow > array->rows || rows > array->rows - firstRow) {
        ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
    }
    return array->rowStarts.data() + firstRow;
}

void CoefficientStore::freePool(j_common_ptr cinfo, int pool) {
    auto* store = static_cast<CoefficientStore*>(cinfo->client_data);
    std::erase_if(store->m_arrays, [pool](const auto& array) { return array->pool == pool; });
    store->m_libraryFreePool(cinfo, pool);
}

}  // namespace tz::jpegcodec
