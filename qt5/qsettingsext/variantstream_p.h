#ifndef ORVELEXTLIB_VARIANTSTREAM_P_H
#define ORVELEXTLIB_VARIANTSTREAM_P_H

#include <QByteArray>
#include <QVariant>

// The "@Variant(" payload of the settings formats: a QVariant in the data
// stream of Qt 4.0 (version 7).
namespace VariantStream {

QByteArray save(const QVariant &value);

// Reads a QVariant from `bytes`: what the data stream delivers, an invalid
// QVariant when nothing could be read. Unlike a plain `stream >> variant`,
// nested lists, maps and variants are read with a depth limit, and lists
// element by element (a damaged or cut-off container comes back empty, as
// Qt's own streaming leaves it), whether the stream names their type by
// number, by Qt 4 number or by name; so crafted bytes can neither exhaust the
// stack nor reserve huge amounts of memory. An easing curve that carries the
// address of a curve function is refused.
QVariant load(const QByteArray &bytes);

} // namespace VariantStream

#endif // ORVELEXTLIB_VARIANTSTREAM_P_H
