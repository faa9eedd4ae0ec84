#include "model/SharePassword.h"

#include <QRandomGenerator>

QString SharePassword::generate() {
    const auto size = static_cast<quint32>(alphabet.size());
    // Rejection keeps every symbol equally likely: values at or above the last whole multiple
    // of the alphabet's size are drawn again.
    const quint32 limit = std::numeric_limits<quint32>::max() -
                          (std::numeric_limits<quint32>::max() % size + 1) % size;
    QString password;
    password.reserve(groups * (groupLength + 1));
    for (int i = 0; i < groups * groupLength; ++i) {
        if (i > 0 && i % groupLength == 0)
            password += separator;
        quint32 value = 0;
        do
            value = QRandomGenerator::system()->generate();
        while (value > limit);
        password += alphabet[value % size];
    }
    return password;
}
