// Client proxies: a COM object on the other side of a connection.
//
// A ProxyObject is the object's identity (its IUnknown) and owns one
// interface proxy ("tear-off") per interface the real object implements; the
// tear-offs forward AddRef, Release and QueryInterface to it, so identity
// and reference counting are those of one COM object. QueryInterface answers
// exactly the interfaces the server listed for the object (and only those
// this layer can marshal). Every call blocks until the answer arrives or the
// connection's deadline passes (see Connection); out-values are allocated
// with the task allocator exactly as an in-process server allocates them.
#pragma once

#include <memory>
#include <vector>

#include "platform/opcda/OpcDa.h"
#include "rpc/Connection.h"
#include "rpc/Marshal.h"

namespace tagwell::rpc {

// What ProxyObject owns of its interface proxies.
class TearOffBase {
 public:
  virtual ~TearOffBase() = default;
};

class ProxyObject final : public com::IUnknown {
 public:
  // The proxy of the object an answer carried; null when it carried none.
  static com::ComPtr<com::IUnknown> Create(const std::shared_ptr<Connection>& connection,
                                           wire::Object::Reader object);

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override;
  com::ULONG Release() override;

  Connection& connection() { return *connection_; }
  const std::shared_ptr<Connection>& sharedConnection() const { return connection_; }
  wire::ComObject::Client& cap() { return cap_; }

 private:
  ProxyObject(std::shared_ptr<Connection> connection, wire::ComObject::Client cap);
  ~ProxyObject() noexcept override;
  void AddInterface(const com::IID& iid);
  // The tear-off of type Proxy, made on first use.
  template <class Proxy>
  Proxy* TearOffOf();
  void Answer(const com::IID& iid, void* pointer);

  struct Entry {
    com::IID iid;
    void* pointer;  // the interface pointer QueryInterface hands out
  };

  std::shared_ptr<Connection> connection_;
  wire::ComObject::Client cap_;
  std::vector<std::unique_ptr<TearOffBase>> tearOffs_;
  std::vector<Entry> interfaces_;
  com::RefCount refs_;
};

// Opens a connection over stream (any transport to a server's Activator)
// and creates an object of class clsid there: *object is its proxy. The
// server's own failure (REGDB_E_CLASSNOTREG...) or the transport's.
com::HRESULT CreateObject(const std::shared_ptr<Apartment>& apartment,
                          kj::Own<kj::AsyncIoStream> stream, const com::CLSID& clsid,
                          std::chrono::milliseconds callTimeout,
                          com::ComPtr<com::IUnknown>* object);

// CreateObject over a connected socket, which it takes over (closing it on
// failure).
com::HRESULT CreateObjectOverFd(int fd, const com::CLSID& clsid,
                                std::chrono::milliseconds callTimeout,
                                com::ComPtr<com::IUnknown>* object);

// The take-function of Connection::Call for answers that are just an HRESULT.
inline auto HrOnly() {
  return [](auto answer) -> com::HRESULT { return answer.getHr(); };
}

// Hands out the items decode() makes (when the answer has them) and the
// per-item errors of an answer, or neither: a failure to decode loses
// nothing. The result is the answer's HRESULT or the decoding failure.
template <class T, class Answer, class Decode>
com::HRESULT TakeWithErrors(Answer answer, com::DWORD count, bool hasItems, T** ppItems,
                            com::HRESULT** ppErrors, Decode&& decode) {
  Received<T> items(count);
  Received<com::HRESULT> errors(count);
  com::HRESULT hr = hasItems ? decode(items.Out()) : com::S_OK;
  if (com::SUCCEEDED(hr))
    hr = NumbersFromWire(answer.hasErrors(), answer.getErrors(), count, errors.Out());
  if (com::FAILED(hr)) return hr;
  *ppItems = items.Take();
  *ppErrors = errors.Take();
  return answer.getHr();
}

// Base of the interface proxies: IUnknown goes to the object.
template <class Interface>
class TearOff : public Interface, public TearOffBase {
 public:
  explicit TearOff(ProxyObject& owner) : owner_(owner) {}
  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
    return owner_.QueryInterface(riid, ppv);
  }
  com::ULONG AddRef() override { return owner_.AddRef(); }
  com::ULONG Release() override { return owner_.Release(); }

 protected:
  Connection& connection() { return owner_.connection(); }
  wire::ComObject::Client& cap() { return owner_.cap(); }
  // Hands out interface riid of a returned object through *ppv; the result
  // is hr, or the failure to give that interface.
  com::HRESULT TakeObject(com::HRESULT hr, bool present, wire::Object::Reader object,
                          com::REFIID riid, void** ppv) {
    if (!present) return hr;
    auto proxy = ProxyObject::Create(owner_.sharedConnection(), object);
    if (!proxy) return hr;
    com::HRESULT given = proxy->QueryInterface(riid, ppv);
    return com::FAILED(given) ? given : hr;
  }

  ProxyObject& owner_;
};

}  // namespace tagwell::rpc
