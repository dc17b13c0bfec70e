// fetch_page on Windows: the platform's "Microsoft.XMLHTTP" automation component, called through
// IDispatch by member name. COM must already be initialised on the calling thread.
#include <windows.h>

#include <vector>

#include "lookup/com_win.h"
#include "lookup/http_client.h"

namespace qinglan {
namespace {

// Texts are code-page-936 bytes whatever the system's own code page is.
constexpr UINT kTextCodePage = 936;

UniqueBstr make_bstr(const Text& text) {
    const std::string_view bytes = text.bytes();
    const int size = static_cast<int>(bytes.size());
    const int wide_size = MultiByteToWideChar(kTextCodePage, 0, bytes.data(), size, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<std::size_t>(wide_size) + 1);
    MultiByteToWideChar(kTextCodePage, 0, bytes.data(), size, wide.data(), wide_size);
    return UniqueBstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide_size)));
}

// Calls a member by name. `arguments` are in their natural order; IDispatch wants them reversed.
// The result of methods is not needed, so the caller may pass no result variant.
HRESULT invoke_by_name(IDispatch* object, const wchar_t* name, WORD kind,
                       std::vector<VARIANT> arguments, VARIANT* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID member = DISPID_UNKNOWN;
    HRESULT status = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
    if (FAILED(status)) {
        return status;
    }
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS parameters{};
    parameters.rgvarg = reversed.empty() ? nullptr : reversed.data();
    parameters.cArgs = static_cast<UINT>(reversed.size());
    return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters, result, nullptr,
                          nullptr);
}

VARIANT bstr_argument(const UniqueBstr& text) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = text.get();  // still owned by `text`
    return argument;
}

VARIANT false_argument() {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BOOL;
    argument.boolVal = VARIANT_FALSE;
    return argument;
}

Bytes bytes_of_byte_array(SAFEARRAY* array) {
    if (array == nullptr) {
        return {};
    }
    std::size_t count = 1;
    for (UINT dimension = 1; dimension <= SafeArrayGetDim(array); ++dimension) {
        LONG lower = 0;
        LONG upper = -1;
        if (FAILED(SafeArrayGetLBound(array, dimension, &lower)) ||
            FAILED(SafeArrayGetUBound(array, dimension, &upper)) || upper < lower) {
            return {};
        }
        count *= static_cast<std::size_t>(upper - lower) + 1;
    }
    const SafeArrayDataLock lock(array);
    if (lock.data() == nullptr) {
        return {};
    }
    const auto* first = static_cast<const std::uint8_t*>(lock.data());
    return Bytes(first, first + count);
}

// An array of bytes is taken whole; an array of anything else gives nothing; any other value is
// first converted by the platform's standard conversion.
Bytes bytes_of_body_value(const VARIANT& value) {
    if (value.vt == (VT_ARRAY | VT_UI1)) {
        return bytes_of_byte_array(value.parray);
    }
    if ((value.vt & VT_ARRAY) != 0 || value.vt == VT_EMPTY) {
        return {};
    }
    UniqueVariant converted;
    if (FAILED(VariantChangeType(&converted.get(), const_cast<VARIANT*>(&value), 0,
                                 VT_ARRAY | VT_UI1)) ||
        converted.get().vt != (VT_ARRAY | VT_UI1)) {
        return {};
    }
    return bytes_of_byte_array(converted.get().parray);
}

class XmlHttpClient final : public HttpClient {
  public:
    explicit XmlHttpClient(ComPtr<IDispatch> component) : component_(std::move(component)) {}

    Bytes get(const Text& address) override {
        // Each step runs whatever the one before it reported: a failed "open" or "send" shows in
        // the body, which is then empty.
        const UniqueBstr method = make_bstr("GET");
        const UniqueBstr url = make_bstr(address);
        invoke_by_name(component_.get(), L"open", DISPATCH_METHOD,
                       {bstr_argument(method), bstr_argument(url), false_argument()}, nullptr);
        invoke_by_name(component_.get(), L"send", DISPATCH_METHOD, {}, nullptr);
        UniqueVariant body;
        invoke_by_name(component_.get(), L"responseBody", DISPATCH_PROPERTYGET, {}, &body.get());
        return bytes_of_body_value(body.get());
    }

  private:
    ComPtr<IDispatch> component_;
};

}  // namespace

std::unique_ptr<HttpClient> create_http_client(const FetchLimits& /*limits*/) {
    CLSID class_id{};
    if (FAILED(CLSIDFromProgID(L"Microsoft.XMLHTTP", &class_id))) {
        return nullptr;
    }
    ComPtr<IUnknown> instance;
    if (FAILED(CoCreateInstance(class_id, nullptr, CLSCTX_SERVER, IID_IUnknown,
                                instance.put_void())) ||
        FAILED(OleRun(instance.get()))) {
        return nullptr;
    }
    ComPtr<IDispatch> component;
    if (FAILED(instance->QueryInterface(IID_IDispatch, component.put_void()))) {
        return nullptr;
    }
    return std::make_unique<XmlHttpClient>(std::move(component));
}

}  // namespace qinglan
