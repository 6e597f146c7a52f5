#pragma once

#include "filters/media/OggComments.h"
#include "filters/media/TagFilterBase.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComObject.h"
#include "platform/com/NoTypeInfoDispatch.h"
#include "platform/com/OleAuto.h"

struct IOggVorbisFilter : IDispatch {
  static constexpr IID iid = IID_IOggVorbisFilter;

 protected:
  ~IOggVorbisFilter() = default;
};

// The filter of .ogg files: their Vorbis comments.
class COggVorbisFilter : public ZYT::CComObjectRoot,
                   public ZYT::CNoTypeInfoDispatch<IOggVorbisFilter>,
                   public CTagFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(COggVorbisFilter)
  ZYT_INTERFACE(IOggVorbisFilter)
  ZYT_INTERFACE_VIA(IDispatch, IOggVorbisFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  COggVorbisFilter() : CTagFilterBase(CLSID_OggVorbisFilter, u"OGG") {}

 protected:
  bool ReadTags(const IByteSource& file, const TagLimits& limits) override;
  bool EndsAtOnce() const override { return CTagFilterBase::EndsAtOnce() && !m_read; }
  bool ValueChunkDue() const override { return m_valueChunks != 0 && m_initFlags.property; }
  void ValueChunkEmitted() override { --m_valueChunks; }
  std::u16string Field(ULONG idChunk) const override;
  std::u16string Header() const override;
  bool SpaceAfterLastItem() const override { return true; }

 private:
  std::u16string FieldOf(const char16_t* key) const;
  OggComments m_comments;
  bool m_read = false;
  int m_valueChunks = 0;
};
