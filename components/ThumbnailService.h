// The product's thumbnail service: a stable item id for each (path, catalog
// type), kept in a small SQLite table ($ZYT_THUMBNAILS, else
// $XDG_DATA_HOME/zyt/thumbnails.db) with whether a thumbnail was forced.
#pragma once

#include "interfaces/ProductServices.h"
#include "platform/com/ComObject.h"
#include "platform/com/NoTypeInfoDispatch.h"

class CThumbnailService : public ZYT::CComObjectRoot, public ZYT::CNoTypeInfoDispatch<IThumbnailService> {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CThumbnailService)
  ZYT_INTERFACE(IThumbnailService)
  ZYT_INTERFACE_VIA(IDispatch, IThumbnailService)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = ZYT::MultiThreadModel;

  HRESULT ItemId(BSTR path, BSTR catalogType, LONG forceThumbnail, BSTR* itemId) override;
};
