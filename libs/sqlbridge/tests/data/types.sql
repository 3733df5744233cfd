-- One row per interesting value of every column type, and a row of Nulls.
CREATE TABLE [All Types] (
  Id       COUNTER PRIMARY KEY,
  Flag     YESNO,
  Tiny     BYTE,
  Small    SHORT,
  Big      LONG,
  Money    CURRENCY,
  Sng      SINGLE,
  Dbl      DOUBLE,
  Stamp    DATETIME,
  Name     TEXT(50),
  Notes    MEMO,
  Pic      OLEOBJECT,
  Tag      GUID,
  Exact    DECIMAL(28, 10),
  [Unit Price] CURRENCY
);
INSERT INTO [All Types] (Flag, Tiny, Small, Big, Money, Sng, Dbl, Stamp, Name, Notes, Pic, Tag, Exact, [Unit Price]) VALUES
  (TRUE, 255, -32768, 2147483647, 19.99, 1.5, 0.1, #2024-02-29 23:59:58#, 'O''Hara', 'long text', 0x89504E47, {01234567-89AB-CDEF-0123-456789ABCDEF}, 123456789012345678.0123456789, -0.0001),
  (FALSE, 0, 32767, -2147483648, -1234.5, -0.25, -12345.678, #1899-12-29 12:00:00#, '', 'Ünal ß', 0x00FF, {00000000-0000-0000-0000-000000000001}, -0.5, 0),
  (FALSE, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);

CREATE TABLE [Order Lines] (
  [Line No]    LONG,
  [Unit Price] CURRENCY,
  [Qty "x"]    SHORT
);
INSERT INTO [Order Lines] ([Line No], [Unit Price], [Qty "x"]) VALUES (1, 2.5, 3), (2, 4, 5);
