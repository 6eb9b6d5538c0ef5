#include "testbed/common/server.h"

#include <string>

#include "testbed/common/com_object.h"
#include "testbed/common/com_ptr.h"

namespace testbed {
namespace {

class ClassFactory : public ComObject, public IClassFactory {
 public:
  explicit ClassFactory(CreateFunction create) : create_(create) {}
  TESTBED_IUNKNOWN

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    LockModule(lock != FALSE);
    return S_OK;
  }

 protected:
  void* Interface(REFIID iid) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IClassFactory))
      return static_cast<IClassFactory*>(this);
    return nullptr;
  }

 private:
  CreateFunction create_;
};

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  LONG err = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(err);
}

HRESULT WriteKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key;
  LONG err = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                             nullptr, &key, nullptr);
  if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
  HRESULT hr = SetString(key, name, value);
  RegCloseKey(key);
  return hr;
}

ComPtr<IFilterMapper2> CreateMapper(HRESULT* hr) {
  ComPtr<IFilterMapper2> mapper;
  *hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IFilterMapper2, mapper.PutVoid());
  return mapper;
}

}  // namespace

HRESULT CreateClassFactory(CreateFunction create, REFIID iid, void** out) {
  return CreateObject<ClassFactory>(iid, out, create);
}

HRESULT RegisterInprocServer(HMODULE module, REFCLSID clsid, const wchar_t* name) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  std::wstring key = L"CLSID\\" + GuidText(clsid);
  HRESULT hr = WriteKey(key, nullptr, name);
  if (SUCCEEDED(hr)) hr = WriteKey(key + L"\\InprocServer32", nullptr, path);
  if (SUCCEEDED(hr)) hr = WriteKey(key + L"\\InprocServer32", L"ThreadingModel", L"Both");
  return hr;
}

HRESULT UnregisterInprocServer(REFCLSID clsid) {
  std::wstring key = L"CLSID\\" + GuidText(clsid);
  LONG err = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  return err == ERROR_FILE_NOT_FOUND ? S_FALSE : HRESULT_FROM_WIN32(err);
}

HRESULT RegisterDeviceFilter(REFCLSID category, REFCLSID clsid, const wchar_t* instance,
                             const wchar_t* friendly_name, const REGFILTER2& data,
                             IMoniker** moniker) {
  HRESULT hr;
  ComPtr<IFilterMapper2> mapper = CreateMapper(&hr);
  if (FAILED(hr)) return hr;
  IMoniker* created = nullptr;
  hr = mapper->RegisterFilter(clsid, friendly_name, moniker ? &created : nullptr, &category,
                              instance, &data);
  if (moniker) *moniker = created;
  return hr;
}

HRESULT UnregisterDeviceFilter(REFCLSID category, REFCLSID clsid, const wchar_t* instance) {
  HRESULT hr;
  ComPtr<IFilterMapper2> mapper = CreateMapper(&hr);
  if (FAILED(hr)) return hr;
  return mapper->UnregisterFilter(&category, instance, clsid);
}

}  // namespace testbed
