#include "server/EnumString.h"

#include "server/ComSupport.h"

namespace tagwell::server {
namespace {

// Thread rule: one enumerator is used by one caller at a time, as COM
// enumerators are; the shared list never changes.
class EnumString final : public com::IEnumString {
 public:
  EnumString(std::shared_ptr<const NameList> names, std::size_t position)
      : names_(std::move(names)), position_(position) {}

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
    if (!ppv) return com::E_POINTER;
    if (riid == com::IID_IUnknown || riid == com::IID_IEnumString)
      return HandOut<com::IEnumString>(this, ppv);
    *ppv = nullptr;
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override { return ReleaseObject(this, refs_); }

  com::HRESULT Next(com::ULONG celt, com::LPOLESTR* rgelt, com::ULONG* fetched) override {
    if (!rgelt || (celt != 1 && !fetched)) return com::E_INVALIDARG;
    com::ULONG count = 0;
    while (count < celt && position_ < names_->size()) {
      rgelt[count] = TaskString((*names_)[position_]);
      if (!rgelt[count]) break;
      ++count;
      ++position_;
    }
    if (fetched) *fetched = count;
    return count == celt ? com::S_OK : com::S_FALSE;
  }

  com::HRESULT Skip(com::ULONG celt) override {
    const std::size_t left = names_->size() - position_;
    if (celt > left) {
      position_ = names_->size();
      return com::S_FALSE;
    }
    position_ += celt;
    return com::S_OK;
  }

  com::HRESULT Reset() override {
    position_ = 0;
    return com::S_OK;
  }

  com::HRESULT Clone(com::IEnumString** ppEnum) override {
    if (!ppEnum) return com::E_POINTER;
    *ppEnum = new EnumString(names_, position_);
    return com::S_OK;
  }

 private:
  ~EnumString() = default;
  friend com::ULONG ReleaseObject<EnumString>(EnumString*, com::RefCount&);

  com::RefCount refs_;
  std::shared_ptr<const NameList> names_;
  std::size_t position_;
};

}  // namespace

com::IEnumString* MakeEnumString(std::shared_ptr<const NameList> names) {
  return new EnumString(std::move(names), 0);
}

}  // namespace tagwell::server
