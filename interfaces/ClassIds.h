// The module's class, interface and type library identifiers.
#pragma once

#include "platform/com/Guid.h"

inline constexpr GUID LIBID_ZYTFILTERSLib = ZYT::MakeGuid("{1273D596-4F6E-4552-93A0-6E0B6A59369E}");
inline constexpr GUID LIBID_ZYTDocTypes = ZYT::MakeGuid("{C5777E4D-D78C-48B1-81B8-716256D1986C}");

inline constexpr CLSID CLSID_QhsFilter = ZYT::MakeGuid("{1EA6ECE6-4BB3-4E6E-9ECE-9AB728505106}");
inline constexpr CLSID CLSID_OrreryCISProxyFilter = ZYT::MakeGuid("{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}");
inline constexpr CLSID CLSID_Mp3Filter = ZYT::MakeGuid("{0DE9957F-E255-47CC-B920-1CFD54251DED}");
inline constexpr CLSID CLSID_OggVorbisFilter = ZYT::MakeGuid("{933C0515-6815-4FCB-88C3-336590F7FADA}");
inline constexpr CLSID CLSID_URLFilter = ZYT::MakeGuid("{9B29738C-ECCB-4FEE-9851-8F5D22E66A80}");
inline constexpr CLSID CLSID_EmailFilter = ZYT::MakeGuid("{8AED2654-017E-11D7-B3E2-00D009EF4932}");
inline constexpr CLSID CLSID_PimFilter = ZYT::MakeGuid("{EBEDC251-296C-11D7-B3F4-00D009EF4932}");
inline constexpr CLSID CLSID_SimpleFileFilterAdapter = ZYT::MakeGuid("{32E04D12-5E47-11D7-B40F-00D009EF4932}");
inline constexpr CLSID CLSID_NullFileFilter = ZYT::MakeGuid("{32E04D14-5E47-11D7-B40F-00D009EF4932}");
inline constexpr CLSID CLSID_XMLFilter = ZYT::MakeGuid("{32E04D16-5E47-11D7-B40F-00D009EF4932}");
inline constexpr CLSID CLSID_XMLProxyFilter = ZYT::MakeGuid("{32E04D17-5E47-11D7-B40F-00D009EF4932}");
inline constexpr CLSID CLSID_DocTypeManager = ZYT::MakeGuid("{B8E73B4C-6D87-4C72-8364-FA3EBDD47465}");
inline constexpr CLSID CLSID_HttpItemFilter = ZYT::MakeGuid("{32E04D1A-5E47-11D7-B40F-00D009EF4932}");
inline constexpr CLSID CLSID_FeedItemFilter = ZYT::MakeGuid("{32E04D1C-5E47-11D7-B40F-00D009EF4932}");
inline constexpr CLSID CLSID_QharcFilter = ZYT::MakeGuid("{2C5DCA21-FB2B-4839-835D-A80973CFB41E}");
inline constexpr CLSID CLSID_ArchiveFilter = ZYT::MakeGuid("{42EF1EF4-F295-4F4C-B48E-2E06D31FF3AB}");

// Persistent handlers of the classes' extensions.
inline constexpr CLSID CLSID_Mp3PersistentHandler = ZYT::MakeGuid("{888471FB-9560-47CF-A4B4-3B9E89B56C6D}");
inline constexpr CLSID CLSID_SimpleFileFilterHandler = ZYT::MakeGuid("{32E04D13-5E47-11D7-B40F-00D009EF4932}");
inline constexpr CLSID CLSID_XMLProxyFilterHandler = ZYT::MakeGuid("{32E04D19-5E47-11D7-B40F-00D009EF4932}");

// The module's own interfaces. The dual ones add nothing to IDispatch.
inline constexpr IID IID_IQhsFilter = ZYT::MakeGuid("{6D367061-AA7F-443A-B6B1-8AB1F6DB4BA6}");
inline constexpr IID IID_IOrreryCISProxyFilter = ZYT::MakeGuid("{29FED05D-142A-4AA1-AD1D-0E061D47CAAC}");
inline constexpr IID IID_IMp3Filter = ZYT::MakeGuid("{53781F0B-CA2E-4025-8E3B-98A2970C6B60}");
inline constexpr IID IID_IOggVorbisFilter = ZYT::MakeGuid("{D9B6B92B-D114-4371-8081-423FE599D4C0}");
inline constexpr IID IID_IURLFilter = ZYT::MakeGuid("{84613944-F797-462E-8D5A-814689F1D0EB}");
inline constexpr IID IID_IQharcFilter = ZYT::MakeGuid("{595425A3-1D21-44C0-BBE3-A16DF5C3F25D}");
inline constexpr IID IID_IArchiveFilter = ZYT::MakeGuid("{D7992827-377B-474A-9A9E-4FDABDA3B67D}");
inline constexpr IID IID_IOrreryFilter = ZYT::MakeGuid("{FB7A7B7B-979D-4770-914F-0D7D21112729}");
inline constexpr IID IID_ISimpleFileFilter = ZYT::MakeGuid("{32E04D10-5E47-11D7-B40F-00D009EF4932}");
inline constexpr IID IID_IOrreryDocTypeManager = ZYT::MakeGuid("{118F6BE3-4D95-4BE8-A12A-C35C68BF4802}");
