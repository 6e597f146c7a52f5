// The product's content-type and thumbnail services, as the catalog proxy
// filter calls them (methods counted after the IDispatch slots).
#pragma once

#include "platform/com/OleAuto.h"

inline constexpr CLSID CLSID_ContentTypeService = ZYT::MakeGuid("{E81B43AF-CD15-46DE-8A9D-15DD4CCA3AE9}");
inline constexpr CLSID CLSID_ThumbnailService = ZYT::MakeGuid("{418BAD5E-0998-4BE7-9B30-59F2E96BB5B3}");

struct IContentTypeService : IDispatch {
  static constexpr IID iid = ZYT::MakeGuid("{8698C41B-491A-47E8-9452-42ED52810537}");
  // 1: the content type of an extension (no dot); "application/octet-stream" when unknown.
  virtual HRESULT ContentTypeOfExtension(BSTR extension, BSTR* contentType) = 0;
  // 2: the same for a path's extension.
  virtual HRESULT ContentTypeOfPath(BSTR path, BSTR* contentType) = 0;
  // 3: the extensions (no dots, ";"-separated) known for a content type.
  virtual HRESULT ExtensionsOf(BSTR contentType, BSTR* extensions) = 0;
  // 4: whether a type is text ("text/*", XML, mail messages).
  virtual HRESULT IsText(BSTR contentType, VARIANT_BOOL* text) = 0;
  // 5: the media part of a type ("text" of "text/plain").
  virtual HRESULT MediaType(BSTR contentType, BSTR* media) = 0;
  // 6, 7: add or remove a type (or a "media/*" pattern) of the supported list.
  virtual HRESULT AddSupportedType(BSTR contentType) = 0;
  virtual HRESULT RemoveSupportedType(BSTR contentType) = 0;
  // 8: the supported list, ";"-separated.
  virtual HRESULT SupportedTypes(BSTR* types) = 0;
  // 9: back to the built-in supported list.
  virtual HRESULT ResetSupportedTypes() = 0;
  // 10: read the system's MIME database again.
  virtual HRESULT Refresh() = 0;
  // 11, 12: the user's own content type for an extension, kept in the registry.
  virtual HRESULT SetContentType(BSTR extension, BSTR contentType) = 0;
  virtual HRESULT RemoveContentType(BSTR extension) = 0;
  // 13: whether the product indexes documents of a content type.
  virtual HRESULT IsSupported(BSTR contentType, VARIANT_BOOL* supported) = 0;

 protected:
  ~IContentTypeService() = default;
};

struct IThumbnailService : IDispatch {
  static constexpr IID iid = ZYT::MakeGuid("{BC2D9474-4434-448D-B4BF-A1407B04890A}");
  // 1: the stable item id of a file in a catalog type; a forced thumbnail is
  // remembered for the thumbnailer.
  virtual HRESULT ItemId(BSTR path, BSTR catalogType, LONG forceThumbnail, BSTR* itemId) = 0;

 protected:
  ~IThumbnailService() = default;
};
