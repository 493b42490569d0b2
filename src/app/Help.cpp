#include "app/Help.h"

namespace app {

std::string helpText() {
    return "Ruvex Voice: диктовка по-русски на рабочем столе Linux.\n"
           "\n"
           "Использование:\n"
           "  ruvex-voice                 запустить программу в системном лотке\n"
           "  ruvex-voice --polish СТИЛИ  обработать строки со стандартного ввода в стилях:\n"
           "                              ai, asSpoken, natural, business, friendly, en-<стиль>\n"
           "  ruvex-voice --download-model  скачать модель речи (232 МБ) и проверить её\n"
           "  ruvex-voice --transcribe [--model ПАПКА] ФАЙЛ...\n"
           "                              распознать аудиофайлы и напечатать текст\n"
           "  ruvex-voice --diagnose      проверить, что нужно для диктовки на этом рабочем столе:\n"
           "                              сеанс, клавиша, вставка, буфер обмена, пилюля, микрофон,\n"
           "                              модель речи, ключ ИИ (выход 0, если диктовка может работать)\n"
           "  ruvex-voice --version       версия программы\n"
           "  ruvex-voice --help          эта справка\n"
           "\n"
           "Переменные окружения:\n"
           "  RUVEX_VOICE_AI_URL          адрес сервиса ИИ вместо заданного в настройках (по умолчанию\n"
           "                              https://api.deepseek.com); http только для сервера на этом\n"
           "                              компьютере (127.0.0.1, ::1, localhost), ему ключ не нужен\n"
           "  RUVEX_VOICE_AI_MODEL        имя модели вместо заданного в настройках (deepseek-chat)\n"
           "  RUVEX_VOICE_MODEL_URL       адрес зеркала с файлами модели речи вместо huggingface.co\n"
           "  RUVEX_VOICE_MODEL_DIR       своя папка с моделью речи (tokens.txt, encoder.int8.onnx,\n"
           "                              decoder.onnx, joiner.onnx): берется как есть, без скачивания\n"
           "                              и без проверки контрольных сумм\n"
           "  RUVEX_VOICE_INPUT_DEVICE    в сеансе Wayland читать клавишу только с этого устройства\n"
           "                              (/dev/input/...) или из FIFO с записями input_event\n";
}

} // namespace app
