#include "Global.h"

namespace Global {

CancelFlag &CancelRequested()
{
    static CancelFlag flag;
    return flag;
}

} // namespace Global
