CREATE TABLE [a b] (k1 TEXT(10) NOT NULL, k2 LONG, v MEMO DEFAULT 'x', CONSTRAINT pk PRIMARY KEY (k1, k2));
CREATE INDEX v ON [a b] (v);
INSERT INTO [a b] VALUES ('é', 1, 'long memo value that is certainly longer than sixty-four bytes of text, yes'),
  ('E', 2, NULL), ('e', 3, ''), ('  x', -1, 'y');
