-- The periodic hand-over claims the waiting orders of an instance before it
-- hands them to the back end: CLAIMID names the run that holds an order,
-- CLAIMED when it took it. Two runs at the same time never hold the same
-- order; a claim older than the lease (a run that died) may be taken again.
ALTER TABLE ORDERHEADER ADD COLUMN CLAIMID NVARCHAR(32) COLLATE NOCASE;
ALTER TABLE ORDERHEADER ADD COLUMN CLAIMED DATETIME;
CREATE INDEX ORDERHEADER_CLAIMID ON ORDERHEADER (CLAIMID);
