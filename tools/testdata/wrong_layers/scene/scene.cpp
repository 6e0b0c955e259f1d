// The scene reaching for Qt: the check must refuse it.
#include <QImage>
