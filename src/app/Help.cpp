#include "app/Help.h"

namespace app {

std::string helpText() {
    return "Ruvex Voice: диктовка по-русски на рабочем столе Linux.\n"
           "\n"
           "Использование:\n"
           "  ruvex-voice                 запустить программу в системном лотке\n"
           "  ruvex-voice --polish СТИЛИ  обработать строки со стандартного ввода в стилях:\n"
           "                              ai, asSpoken, natural, business, friendly, en-<стиль>\n"
           "  ruvex-voice --help          эта справка\n";
}

} // namespace app
