// The product's content-type service: extension to MIME type from the
// user's own choice, the registry ("Content Type" and the module's
// "content-type" values) and the system's shared-mime-info globs; and the
// list of types the product indexes (HKLM\SOFTWARE\ZYT\Orrery\ContentTypes,
// value "Supported", ";"-separated, "media/*" patterns allowed).
#pragma once

#include "interfaces/ProductServices.h"
#include "platform/com/ComObject.h"
#include "platform/com/NoTypeInfoDispatch.h"

class CContentTypeService : public ZYT::CComObjectRoot, public ZYT::CNoTypeInfoDispatch<IContentTypeService> {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CContentTypeService)
  ZYT_INTERFACE(IContentTypeService)
  ZYT_INTERFACE_VIA(IDispatch, IContentTypeService)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = ZYT::MultiThreadModel;

  HRESULT ContentTypeOfExtension(BSTR extension, BSTR* contentType) override;
  HRESULT ContentTypeOfPath(BSTR path, BSTR* contentType) override;
  HRESULT ExtensionsOf(BSTR contentType, BSTR* extensions) override;
  HRESULT IsText(BSTR contentType, VARIANT_BOOL* text) override;
  HRESULT MediaType(BSTR contentType, BSTR* media) override;
  HRESULT AddSupportedType(BSTR contentType) override;
  HRESULT RemoveSupportedType(BSTR contentType) override;
  HRESULT SupportedTypes(BSTR* types) override;
  HRESULT ResetSupportedTypes() override;
  HRESULT Refresh() override;
  HRESULT SetContentType(BSTR extension, BSTR contentType) override;
  HRESULT RemoveContentType(BSTR extension) override;
  HRESULT IsSupported(BSTR contentType, VARIANT_BOOL* supported) override;
};

// The built-in list of indexed types.
inline constexpr char16_t kDefaultSupportedTypes[] =
    u"text/*;message/*;audio/mpeg;audio/ogg;audio/x-vorbis+ogg;application/xml;application/pdf;application/zip;"
    u"application/msword;application/x-orrery-stream";
