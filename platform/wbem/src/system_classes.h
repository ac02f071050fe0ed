// The system classes every namespace starts with, as MOF.
#pragma once

namespace qv::wbem {

const wchar_t* SystemClassesMof();

}  // namespace qv::wbem
