#include "updater/NotesLayout.h"

namespace {

constexpr int kBandTop = 50;
constexpr int kBandHeight = 85;

} // namespace

QPoint notesPosition(QSize labelSize, int clientWidth) {
    return {(clientWidth - labelSize.width()) / 2, (kBandHeight - labelSize.height()) / 2 + kBandTop};
}
