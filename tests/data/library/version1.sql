-- A library file as the first version of the program left it: its tables, and a few rows to carry forward.
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE document(
  id INTEGER PRIMARY KEY,
  url TEXT NOT NULL UNIQUE,
  number INTEGER NOT NULL,
  title TEXT NOT NULL,
  etag TEXT NOT NULL,
  last_modified TEXT NOT NULL,
  length INTEGER NOT NULL,
  fetched INTEGER NOT NULL,
  body TEXT NOT NULL);
CREATE INDEX document_number ON document(number);
CREATE VIRTUAL TABLE document_text USING fts5(
  body, content='document', content_rowid='id', tokenize='porter unicode61');
CREATE TRIGGER document_added AFTER INSERT ON document BEGIN
  INSERT INTO document_text(rowid, body) VALUES (new.id, new.body);
END;
CREATE TRIGGER document_removed AFTER DELETE ON document BEGIN
  INSERT INTO document_text(document_text, rowid, body) VALUES ('delete', old.id, old.body);
END;
CREATE TRIGGER document_changed AFTER UPDATE OF body ON document BEGIN
  INSERT INTO document_text(document_text, rowid, body) VALUES ('delete', old.id, old.body);
  INSERT INTO document_text(rowid, body) VALUES (new.id, new.body);
END;
CREATE TABLE rfc(
  number INTEGER PRIMARY KEY,
  title TEXT NOT NULL,
  authors TEXT NOT NULL,
  date TEXT NOT NULL,
  status TEXT NOT NULL,
  stream TEXT NOT NULL,
  keywords TEXT NOT NULL,
  abstract TEXT NOT NULL,
  also TEXT NOT NULL,
  errata_url TEXT NOT NULL,
  obsolete INTEGER NOT NULL);
CREATE VIRTUAL TABLE rfc_text USING fts5(
  title, authors, keywords, abstract, content='rfc', content_rowid='number', tokenize='porter unicode61');
CREATE TABLE relation(
  number INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  position INTEGER NOT NULL,
  other TEXT NOT NULL,
  PRIMARY KEY (number, kind, position)) WITHOUT ROWID;
INSERT INTO meta VALUES ('last-shown', 'http://h/rfc822.txt');
INSERT INTO document(url, number, title, etag, last_modified, length, fetched, body) VALUES
  ('http://h/rfc822.txt', 0, 'RFC #  822', '', '', 73, 1000,
   char(10) || '     RFC #  822' || char(10) || char(10) || '     Obsoletes:  RFC #733  (NIC #41952)' || char(10) || 'ARPA INTERNET TEXT MESSAGES' || char(10)),
  ('http://h/rfc2616.txt', 2616, 'Hypertext Transfer Protocol', '"e"', '', 60, 2000,
   'Request for Comments: 2616' || char(10) || 'chunked transfer coding' || char(10));
INSERT INTO rfc VALUES (822, 'STANDARD FOR THE FORMAT OF ARPA INTERNET TEXT MESSAGES', 'D. Crocker', '13 August 1982',
  'INTERNET STANDARD', 'Legacy', '', '', 'STD0011', '', 1);
INSERT INTO relation VALUES (822, 1, 0, 'RFC2822');
INSERT INTO rfc_text(rfc_text) VALUES ('rebuild');
PRAGMA user_version = 1;
