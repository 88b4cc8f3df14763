#include "meter/process_groups.h"

namespace meter {

ProcessGroups& process_groups() {
    static ProcessGroups groups;
    return groups;
}

}  // namespace meter
