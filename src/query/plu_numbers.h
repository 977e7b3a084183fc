// The numbers of import fields. Integers convert with TryStrToInt
// (common/number_text.h); decimals as below.
#ifndef TARVO_QUERY_PLU_NUMBERS_H_
#define TARVO_QUERY_PLU_NUMBERS_H_

#include <string_view>

namespace tarvo {

// The decimal conversion of import fields: the number written with the
// system decimal separator, or failing that with every "." read as ","
// (so "2.5" reads on both kinds of system); blanks around the number are
// ignored. `fallback` when neither converts.
double ImportStrToFloat(std::string_view text, double fallback);

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_NUMBERS_H_
