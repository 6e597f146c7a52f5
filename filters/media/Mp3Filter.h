#pragma once

#include "filters/media/Mp3Tag.h"
#include "filters/media/TagFilterBase.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComObject.h"
#include "platform/com/NoTypeInfoDispatch.h"
#include "platform/com/OleAuto.h"

struct IMp3Filter : IDispatch {
  static constexpr IID iid = IID_IMp3Filter;

 protected:
  ~IMp3Filter() = default;
};

// The filter of .mp3 files: their ID3 tags, never the audio.
class CMp3Filter : public ZYT::CComObjectRoot,
                   public ZYT::CNoTypeInfoDispatch<IMp3Filter>,
                   public CTagFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CMp3Filter)
  ZYT_INTERFACE(IMp3Filter)
  ZYT_INTERFACE_VIA(IDispatch, IMp3Filter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CMp3Filter() : CTagFilterBase(CLSID_Mp3Filter, u"MP3") {}

 protected:
  bool ReadTags(const IByteSource& file, const TagLimits& limits) override;
  std::u16string Field(ULONG idChunk) const override;
  std::u16string Header() const override;
  bool SpaceAfterLastItem() const override { return false; }

 private:
  std::u16string m_title, m_artist, m_genre;
};
