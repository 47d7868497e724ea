-- Makes a database that Tagwell records readings into:
--     sqlite3 plant.db < OPCvalues.sql
-- Safe to run again on a database that already has the table: its rows are
-- kept and the row counter is set to their number.
BEGIN;

-- One row per reading, in this column order:
--   Number   running number: the row count with this row, low 16 bits, signed
--   Name     item ID
--   Type     boolean, integer, long, float, double or string
--   Hours, Minutes, Seconds, Day, Month, Year
--            local time of the reading's time stamp
--   Value    the value as text: 0/1, whole numbers, decimals, the string itself
--   Quality  Good, Bad, Uncertain, ...
-- (No comments inside the statement: SQLite keeps its text, and ALTER TABLE
-- edits it.)
CREATE TABLE IF NOT EXISTS OPCvalues (
  Number SMALLINT,
  Name TEXT,
  Type TEXT,
  Hours SMALLINT,
  Minutes SMALLINT,
  Seconds SMALLINT,
  Day SMALLINT,
  Month SMALLINT,
  Year SMALLINT,
  Value TEXT,
  Quality TEXT
);

-- The number of rows of OPCvalues, kept by the two triggers, so that the
-- running number does not need a count of the whole table at every row.
CREATE TABLE IF NOT EXISTS OPCvaluesRowCount (Rows INTEGER NOT NULL);
DELETE FROM OPCvaluesRowCount;
INSERT INTO OPCvaluesRowCount (Rows) SELECT count(*) FROM OPCvalues;

CREATE TRIGGER IF NOT EXISTS OPCvaluesRowCountInsert AFTER INSERT ON OPCvalues
BEGIN
  UPDATE OPCvaluesRowCount SET Rows = Rows + 1;
END;

CREATE TRIGGER IF NOT EXISTS OPCvaluesRowCountDelete AFTER DELETE ON OPCvalues
BEGIN
  UPDATE OPCvaluesRowCount SET Rows = Rows - 1;
END;

COMMIT;
