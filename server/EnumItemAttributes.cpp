#include "server/EnumItemAttributes.h"

#include <algorithm>

#include "server/ComSupport.h"

namespace tagwell::server {
namespace {

using Records = std::vector<ItemAttributesRecord>;

void Fill(const ItemAttributesRecord& from, com::OPCITEMATTRIBUTES* to) {
  to->szAccessPath = TaskString("");
  to->szItemID = TaskString(from.itemId);
  to->bActive = from.active;
  to->hClient = from.clientHandle;
  to->hServer = from.serverHandle;
  to->dwAccessRights = from.accessRights;
  to->dwBlobSize = 0;
  to->pBlob = nullptr;
  to->vtRequestedDataType = from.requestedType;
  to->vtCanonicalDataType = from.canonicalType;
  to->dwEUType = from.euType;
  com::VariantInit(&to->vEUInfo);
  com::VariantCopy(&to->vEUInfo, from.euInfo.get());
}

// Thread rule: one caller at a time, as for every COM enumerator.
class EnumItemAttributes final : public com::IEnumOPCItemAttributes {
 public:
  EnumItemAttributes(std::shared_ptr<const Records> records, std::size_t position)
      : records_(std::move(records)), position_(position) {}

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
    if (!ppv) return com::E_POINTER;
    if (riid == com::IID_IUnknown || riid == com::IID_IEnumOPCItemAttributes)
      return HandOut<com::IEnumOPCItemAttributes>(this, ppv);
    *ppv = nullptr;
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override { return ReleaseObject(this, refs_); }

  com::HRESULT Next(com::ULONG celt, com::OPCITEMATTRIBUTES** items, com::ULONG* fetched) override {
    if (!items || (celt != 1 && !fetched)) return com::E_INVALIDARG;
    *items = nullptr;
    const std::size_t count = std::min<std::size_t>(celt, records_->size() - position_);
    if (count > 0) {
      *items = TaskArray<com::OPCITEMATTRIBUTES>(count);
      if (!*items) return com::E_OUTOFMEMORY;
      for (std::size_t i = 0; i < count; ++i) Fill((*records_)[position_ + i], &(*items)[i]);
      position_ += count;
    }
    if (fetched) *fetched = static_cast<com::ULONG>(count);
    return count == celt ? com::S_OK : com::S_FALSE;
  }

  com::HRESULT Skip(com::ULONG celt) override {
    const std::size_t left = records_->size() - position_;
    position_ += std::min<std::size_t>(celt, left);
    return celt > left ? com::S_FALSE : com::S_OK;
  }

  com::HRESULT Reset() override {
    position_ = 0;
    return com::S_OK;
  }

  com::HRESULT Clone(com::IEnumOPCItemAttributes** ppEnum) override {
    if (!ppEnum) return com::E_POINTER;
    *ppEnum = new EnumItemAttributes(records_, position_);
    return com::S_OK;
  }

 private:
  ~EnumItemAttributes() = default;
  friend com::ULONG ReleaseObject<EnumItemAttributes>(EnumItemAttributes*, com::RefCount&);

  com::RefCount refs_;
  std::shared_ptr<const Records> records_;
  std::size_t position_;
};

}  // namespace

com::IEnumOPCItemAttributes* MakeEnumItemAttributes(std::shared_ptr<const Records> records) {
  return new EnumItemAttributes(std::move(records), 0);
}

}  // namespace tagwell::server
