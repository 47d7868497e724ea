-- Makes a PostgreSQL database that Tagwell records readings into and that
-- a pair of Tagwell clients keeps its active/standby role in:
--     psql -d recording -f OPCvalues-postgresql.sql
-- Safe to run again: the rows are kept and the row counter is set to their
-- number.
BEGIN;

-- One row per reading, the columns of the SQLite database (OPCvalues.sql):
--   Number   running number: the row count with this row, low 16 bits, signed
--   Name     item ID
--   Type     boolean, integer, long, float, double or string
--   Hours, Minutes, Seconds, Day, Month, Year
--            local time of the reading's time stamp
--   Value    the value as text
--   Quality  Good, Bad, Uncertain, ...
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

-- The number of rows of OPCvalues, kept by the two triggers. A writer
-- locks it for its transaction, so that the running numbers of two writers
-- never collide and the count needs no scan of the table.
CREATE TABLE IF NOT EXISTS OPCvaluesRowCount (Rows BIGINT NOT NULL);
LOCK TABLE OPCvalues IN SHARE ROW EXCLUSIVE MODE;
DELETE FROM OPCvaluesRowCount;
INSERT INTO OPCvaluesRowCount (Rows) SELECT count(*) FROM OPCvalues;

CREATE OR REPLACE FUNCTION opcvalues_rowcount_add() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE OPCvaluesRowCount SET Rows = Rows + (SELECT count(*) FROM changed);
  RETURN NULL;
END $$;

CREATE OR REPLACE FUNCTION opcvalues_rowcount_remove() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE OPCvaluesRowCount SET Rows = Rows - (SELECT count(*) FROM changed);
  RETURN NULL;
END $$;

DROP TRIGGER IF EXISTS opcvalues_rowcount_insert ON OPCvalues;
CREATE TRIGGER opcvalues_rowcount_insert AFTER INSERT ON OPCvalues
  REFERENCING NEW TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION opcvalues_rowcount_add();

DROP TRIGGER IF EXISTS opcvalues_rowcount_delete ON OPCvalues;
CREATE TRIGGER opcvalues_rowcount_delete AFTER DELETE ON OPCvalues
  REFERENCING OLD TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION opcvalues_rowcount_remove();

-- The active/standby role of clients that record into this database: one
-- row, changed by the clients in transactions, times on the server's clock
-- (ms since 1970).
--   Active       1 while a client holds the active role
--   Number       1 while a standby client has announced itself
--   Holder       the active client (host:process:random)
--   Host         the active client's computer
--   ActiveCycle  its cycle (ms)
--   LeaseUntil   the end of its lease
--   Released     why the last active client gave the role up
CREATE TABLE IF NOT EXISTS TagwellRole (
  Id INTEGER PRIMARY KEY CHECK (Id = 1),
  Active INTEGER NOT NULL DEFAULT 0,
  Number INTEGER NOT NULL DEFAULT 0,
  Holder TEXT NOT NULL DEFAULT '',
  Host TEXT NOT NULL DEFAULT '',
  ActiveCycle BIGINT NOT NULL DEFAULT 0,
  LeaseUntil BIGINT NOT NULL DEFAULT 0,
  Released TEXT NOT NULL DEFAULT ''
);
INSERT INTO TagwellRole (Id) VALUES (1) ON CONFLICT (Id) DO NOTHING;

COMMIT;
