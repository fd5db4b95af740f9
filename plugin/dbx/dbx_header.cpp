#include "plugin/dbx/dbx_header.h"

#include "plugin/dbx/dbx_stream.h"

namespace kestrelon {

const DbxHeaderName kDbxHeaderNames[31] = {
    {0x07, "file info length"},
    {0x09, "pointer to the last variable segment"},
    {0x0A, "length of a variable segment"},
    {0x0B, "used space of the last variable segment"},
    {0x0C, "pointer to the last tree segment"},
    {0x0D, "length of a tree segment"},
    {0x0E, "used space of the last tree segment"},
    {0x0F, "pointer to the last message segment"},
    {0x10, "length of a message segment"},
    {0x11, "used space of the last message segment"},
    {0x12, "root pointer to the deleted message list"},
    {0x13, "root pointer to the deleted tree list"},
    {0x15, "used space in the middle sector of the file"},
    {0x16, "reusable space in the middle sector of the file"},
    {0x17, "index of the last entry in the tree"},
    {0x1B, "pointer to the first folder list node"},
    {0x1C, "pointer to the last folder list node"},
    {0x1F, "used space of the file"},
    {0x22, "pointer to the message conditions object"},
    {0x23, "pointer to the folder conditions object"},
    {0x31, "entries in the tree"},
    {0x32, "entries in the 2.nd tree"},
    {0x33, "entries in the 3.rd tree"},
    {0x39, "pointer to the root node of the tree"},
    {0x3A, "pointer to the root node of the 2.nd tree"},
    {0x3B, "pointer to the root node of the 3.rd tree"},
    {0x9F, "used space for indexed info objects"},
    {0xA0, "used space for conditions objects"},
    {0xA2, "used space for folder list objects"},
    {0xA3, "used space for tree objects"},
    {0xA4, "used space for message objects"},
};

uint32_t DbxHeader::Word(uint32_t index) const {
  return index < kDbxHeaderWords ? dbx::Le32(bytes + 4 * index) : 0;
}

}  // namespace kestrelon
